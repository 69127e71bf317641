// Lowering: the runs of items (lower_run.h), one or two of them on two threads, then the
// passes that need the whole file (symbols, inheritance, qualification). Apart from the runs
// it reads only the kinds and headers of the Task and GroupLine items, to count and cut them.
#include "semantic/lower.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "semantic/index_table.h"
#include "semantic/lower_run.h"
#include "syntax/green.h"
#include "syntax/green_walk.h"
#include "syntax/parallel.h"

namespace quib {
namespace {

// ------------------------------------------------------------------------------------------
// Whole-file passes

// Later definitions of a task take the texts they lack from its first definition, found as every
// task is added to `tables`.
void inherit_metadata(SemanticModel& model, TaskTables& tables) {
  for (uint32_t i = 0; i < model.tasks.size(); ++i) {
    prefetch_task(model.tasks, i);
    TaskDecl& task = model.tasks[i];
    const uint32_t first = tables.index_task(model, i);
    if (first != i) {
      const MetadataBlock& origin = model.tasks[first].metadata;
      if (!task.metadata.help) task.metadata.help = origin.help;
      if (!task.metadata.desc) task.metadata.desc = origin.desc;
      if (!task.metadata.pass) task.metadata.pass = origin.pass;
      if (!task.metadata.fail) task.metadata.fail = origin.fail;
    }
    task.summary = task.metadata.help;
  }
}

// The records of `list`, one of `model`'s dependency lists, writable.
std::span<DependencyDecl> writable(SemanticModel& model, const RecordList<DependencyDecl>& list) {
  for (const std::shared_ptr<RecordPools>& pools : model.record_pools.pools) {
    if (list.is_in(pools->dependencies)) return list.in(pools->dependencies);
  }
  QUIB_ASSERT(false, "a model's lists are in the model's pools");
  return {};
}

// Inside a group, an unqualified dependency on a sibling task names that sibling.
void qualify_dependencies(SemanticModel& model) {
  // Grouped tasks by group and plain name; no task's group or name changes in this pass. A
  // group's tasks follow each other, so a group name is hashed once per run of its tasks.
  IndexTable members(model.tasks.size());
  std::vector<size_t> group_hashes(model.tasks.size());
  bool any_grouped = false;
  const std::string* previous_group = nullptr;
  size_t group_hash = 0;
  for (size_t i = 0; i < model.tasks.size(); ++i) {
    prefetch_task(model.tasks, i);
    const TaskDecl& task = model.tasks[i];
    if (!task.group) continue;
    if (!previous_group || *previous_group != *task.group) group_hash = hash_text(*task.group);
    previous_group = &*task.group;
    group_hashes[i] = group_hash;
    any_grouped = true;
    members.insert(hash_combine(group_hash, hash_text(task.name)), static_cast<uint32_t>(i),
                   [&](uint32_t other) {
                     return model.tasks[other].group == task.group &&
                            model.tasks[other].name == task.name;
                   });
  }
  if (!any_grouped) return;
  for (size_t i = 0; i < model.tasks.size(); ++i) {
    prefetch_task(model.tasks, i);
    TaskDecl& task = model.tasks[i];
    if (!task.group || task.dependencies.empty()) continue;
    const std::string_view group = *task.group;
    for (DependencyDecl& dependency : writable(model, task.dependencies)) {
      if (dependency.name.find('.') != std::string::npos) continue;
      const size_t hash = hash_combine(group_hashes[i], hash_text(dependency.name));
      const auto sibling = members.find(hash, [&](uint32_t other) {
        return *model.tasks[other].group == group && model.tasks[other].name == dependency.name;
      });
      if (sibling) dependency.name = *task.group + "." + dependency.name;
    }
  }
}

// The symbol of each task of `tasks`, into `out` in the same order.
void name_tasks(std::span<const TaskDecl> tasks, std::span<SymbolEntry> out) {
  for (size_t i = 0; i < tasks.size(); ++i) out[i] = {tasks[i].qualified_name(), tasks[i].range};
}

// The group symbols, and the task symbols unless the runs named their tasks already.
void build_symbols(SemanticModel& model) {
  model.group_symbols.reserve(model.groups.size());
  for (const GroupDecl& group : model.groups) {
    model.group_symbols.push_back({group.name, group.range});
  }
  if (model.task_symbols.size() == model.tasks.size()) return;
  model.task_symbols.resize(model.tasks.size());
  name_tasks(model.tasks, model.task_symbols);
}

// Below this many tasks the whole-file passes run one after the other on the calling thread.
constexpr size_t kTwoRunPassTasks = 2048;

// Below this size a document is lowered on the calling thread alone: starting a helper thread
// and joining the runs would cost more than the parallel work saves.
constexpr size_t kTwoRunLoweringBytes = 256 * 1024;

// How lowerings in two runs have lately divided between the threads.
DivisionBalance& lowering_balance() {
  // Never destroyed: a lowering may run while static objects are destroyed.
  static auto* balance = new DivisionBalance();
  return *balance;
}

// Where a document's items are cut for two runs, and how many Task items lie before the cut and
// in all: the slots of the runs' tasks.
struct TaskSlots {
  std::optional<uint32_t> cut;
  size_t before_cut = 0;
  size_t all = 0;
  // Where the cut lies: before the root's child `cut`, at this offset.
  uint32_t cut_offset = 0;
};

// The Task items of the root's children, counted in one walk: before `cut` (all of them when
// there is none) and in all.
TaskSlots count_task_slots(const GreenNode& root, std::optional<uint32_t> cut) {
  TaskSlots slots{.cut = cut};
  for (uint32_t i = 0; i < root.child_count(); ++i) {
    const GreenElement child = root.child(i);
    if (child.is_node() && child.kind() == SyntaxKind::Task) {
      ++slots.all;
      if (!cut || i < *cut) ++slots.before_cut;
    }
  }
  if (cut) slots.cut_offset = cut_before(root, *cut).offset;
  return slots;
}

// The walks read nothing of a child but its header, and a large tree does not fit the caches:
// each child's header is fetched this many children ahead, so the misses overlap.
constexpr uint32_t kChildAhead = 16;

// The first half of the root's children, walked forward from the document's start.
struct ForwardCount {
  size_t tasks = 0;
  std::optional<uint32_t> cut;  // the cut, when it lies in this half
  uint32_t cut_offset = 0;
  size_t before_cut = 0;
  bool ends_with_task = false;  // the half's last item node is a Task
};

ForwardCount count_forward(const GreenNode& root, uint32_t end, uint32_t half) {
  ForwardCount count;
  uint32_t offset = 0;
  for (uint32_t i = 0; i < end; ++i) {
    if (i + kChildAhead < end) __builtin_prefetch(root.child(i + kChildAhead).header());
    const GreenElement child = root.child(i);
    if (child.is_node()) {
      if (!count.cut && offset >= half && count.ends_with_task) {
        count.cut = i;
        count.cut_offset = offset;
        count.before_cut = count.tasks;
      }
      count.ends_with_task = child.kind() == SyntaxKind::Task;
      if (count.ends_with_task) ++count.tasks;
    }
    offset += child.text_len();
  }
  return count;
}

// The second half of the root's children, walked backward from the document's end: each
// child's offset is then known without the first half's length.
struct BackwardCount {
  size_t tasks = 0;
  // The first cut after the half's first item node, its offset, and the Task items from there
  // on.
  std::optional<uint32_t> cut;
  uint32_t cut_offset = 0;
  size_t from_cut = 0;
  // The half's first item node and its offset; whether it is a cut depends on the item before.
  std::optional<uint32_t> first_node;
  uint32_t first_node_offset = 0;
};

BackwardCount count_backward(const GreenNode& root, uint32_t begin, uint32_t half) {
  BackwardCount count;
  uint32_t end = root.text_len();
  for (uint32_t i = root.child_count(); i-- > begin;) {
    if (i >= begin + kChildAhead) __builtin_prefetch(root.child(i - kChildAhead).header());
    const GreenElement child = root.child(i);
    end -= child.text_len();
    if (!child.is_node()) continue;
    const bool is_task = child.kind() == SyntaxKind::Task;
    // The node visited before this one follows it in the document; walking backward, the last
    // cut found is the first in document order.
    if (is_task && count.first_node && count.first_node_offset >= half) {
      count.cut = count.first_node;
      count.cut_offset = count.first_node_offset;
      count.from_cut = count.tasks;
    }
    if (is_task) ++count.tasks;
    count.first_node = i;
    count.first_node_offset = end;
  }
  return count;
}

// The slots of two runs, cut before the first item node from `first_share` of the text on whose
// previous item is a task (no metadata is pending there), or of one run when there is no such
// item. The two halves of the root's children are walked on two threads: the walk shows in the
// time of a large document.
TaskSlots find_task_slots_on_two_threads(const GreenNode& root, double first_share) {
  const auto half = static_cast<uint32_t>(static_cast<double>(root.text_len()) * first_share);
  const uint32_t middle = root.child_count() / 2;
  ForwardCount before;
  BackwardCount after;
  run_in_parallel([&] { before = count_forward(root, middle, half); },
                  [&] { after = count_backward(root, middle, half); });
  TaskSlots slots;
  slots.all = before.tasks + after.tasks;
  if (before.cut) {
    slots.cut = before.cut;
    slots.cut_offset = before.cut_offset;
    slots.before_cut = before.before_cut;
  } else if (before.ends_with_task && after.first_node && after.first_node_offset >= half) {
    slots.cut = after.first_node;
    slots.cut_offset = after.first_node_offset;
    slots.before_cut = before.tasks;
  } else if (after.cut) {
    slots.cut = after.cut;
    slots.cut_offset = after.cut_offset;
    slots.before_cut = slots.all - after.from_cut;
  } else {
    slots.before_cut = slots.all;
  }
  return slots;
}

// Where the second run starts: the root's child `cut`, and a guess of the state that lowering
// the items before it leaves, read from the few items that change it (the last group line and
// any version directive). One walk over the items before the cut, whatever their kinds.
struct RunStart {
  LoweringState guessed;
  std::optional<SyntaxNode> item;
};

RunStart run_start_at(const SyntaxNode& root, uint32_t cut) {
  RunStart start{.guessed = {.seen_task_or_group = true, .seen_item = true},
                 .item = root.first_child()};
  LoweringState& state = start.guessed;
  std::optional<SyntaxNode>& item = start.item;
  while (item && item->index() < cut) {
    if (item->kind() == SyntaxKind::GroupLine) {
      state.group_open = !GroupLine::cast(*item)->is_close();
    } else if (item->kind() == SyntaxKind::Directive && !state.seen_version) {
      state.seen_version = Directive::cast(*item)->kind() == DirectiveKind::Version;
    }
    if (!item->step_to_next_sibling()) item.reset();
  }
  return start;
}

// Keeps the records of the runs' slots and drops the slots no task took (a Task item without a
// name gives none): `used` tells, for each run in order, how many of its `slots` it filled.
template <typename Record>
void keep_lowered_slots(std::vector<Record>& records, std::span<const size_t> slots,
                        std::span<const size_t> used) {
  size_t kept = 0;
  size_t first_slot = 0;
  for (size_t run = 0; run < slots.size(); ++run) {
    if (kept != first_slot) {
      std::move(records.begin() + static_cast<std::ptrdiff_t>(first_slot),
                records.begin() + static_cast<std::ptrdiff_t>(first_slot + used[run]),
                records.begin() + static_cast<std::ptrdiff_t>(kept));
    }
    kept += used[run];
    first_slot += slots[run];
  }
  records.erase(records.begin() + static_cast<std::ptrdiff_t>(kept), records.end());
}

// One of the emptied pools that `storage` lends, or null when it has none left.
std::shared_ptr<RecordPools> take_pools(ModelStorage& storage) {
  if (storage.pools.empty()) return nullptr;
  std::shared_ptr<RecordPools> pools = std::move(storage.pools.back());
  storage.pools.pop_back();
  return pools;
}

// The runs before and after `counted.cut`, lowered on two threads into the slots of `tasks` (the
// first `counted.before_cut` for the first run) and joined; none when the second run started
// from a wrongly guessed state (the slots are then spent).
std::optional<SemanticModel> lower_in_two_runs(const ParseResult& parse,
                                               const std::shared_ptr<const std::string>& source,
                                               const TaskSlots& counted,
                                               std::vector<TaskDecl>& tasks,
                                               ModelStorage& storage) {
  const uint32_t cut = *counted.cut;
  const size_t first_slots = counted.before_cut;
  const std::span<TaskDecl> slots(tasks);
  std::optional<ItemLowering> first;
  std::optional<ItemLowering> second;
  LoweringState guessed;
  SyntaxNode second_root = parse.root.share_root();
  std::shared_ptr<RecordPools> first_pools = take_pools(storage);
  std::shared_ptr<RecordPools> second_pools = take_pools(storage);
  // Each run names the tasks it lowered, in the slots of its tasks; the tasks of a group opened
  // before the second run are named again once that group is known.
  std::vector<SymbolEntry> symbols(tasks.size());
  const std::span<SymbolEntry> symbol_slots(symbols);
  run_divided(
      lowering_balance(), share_before(parse.root.green(), ChildCut{cut, counted.cut_offset}),
      [&] {
        first.emplace(source, parse.diagnostics, LoweringState{}, slots.first(first_slots),
                      std::move(first_pools));
        first->lower_items(parse.root.first_child(), cut);
        name_tasks(slots.first(first->tasks_lowered()), symbol_slots);
      },
      [&] {
        RunStart start = run_start_at(second_root, cut);
        guessed = start.guessed;
        second.emplace(source, std::vector<Diagnostic>{}, guessed, slots.subspan(first_slots),
                       std::move(second_pools));
        second->lower_items(std::move(start.item), UINT32_MAX);
        name_tasks(slots.subspan(first_slots, second->tasks_lowered()),
                   symbol_slots.subspan(first_slots));
      });
  if (first->metadata_pending() || first->state() != guessed) return std::nullopt;
  SemanticModel model = std::move(first->model());
  SemanticModel& rest = second->model();
  if (guessed.group_open) {
    GroupDecl& open_group = model.groups.back();
    for (size_t i = 0; i < second->inherited_group_tasks(); ++i) {
      TaskDecl& task = tasks[first_slots + i];
      task.group = open_group.name;
      symbols[first_slots + i].name = task.qualified_name();
    }
    if (second->inherited_group_close()) open_group.close_range = second->inherited_group_close();
  }
  const auto append = [](auto& into, auto& from) {
    into.insert(into.end(), std::make_move_iterator(from.begin()),
                std::make_move_iterator(from.end()));
  };
  append(model.directives, rest.directives);
  append(model.groups, rest.groups);
  append(model.diagnostics, rest.diagnostics);
  append(model.record_pools.pools, rest.record_pools.pools);
  const size_t slot_counts[] = {first_slots, tasks.size() - first_slots};
  const size_t used[] = {first->tasks_lowered(), second->tasks_lowered()};
  keep_lowered_slots(tasks, slot_counts, used);
  keep_lowered_slots(symbols, slot_counts, used);
  model.tasks = std::move(tasks);
  model.task_symbols = std::move(symbols);
  return model;
}

// The model of `parse`, its items lowered in two runs split at `counted.cut` when there is one.
// The tasks are written straight into one list with a slot per Task item, so that joining two
// runs moves no task and never holds a run's tasks twice.
LoweredModel lower_model(const ParseResult& parse, const std::shared_ptr<const std::string>& source,
                         const TaskSlots& counted, ModelStorage storage) {
  const std::optional<uint32_t> cut = counted.cut;
  const size_t slots = counted.all;
  std::vector<TaskDecl> tasks = std::move(storage.tasks);
  // Growing by resize would double the list and move the stored default records into it;
  // a list of exactly the slots needed holds no task twice and no room for a second document.
  if (tasks.capacity() < slots) tasks = std::vector<TaskDecl>();
  tasks.resize(slots);
  std::optional<SemanticModel> model;
  if (cut) model = lower_in_two_runs(parse, source, counted, tasks, storage);
  if (!model) {
    if (cut) tasks = std::vector<TaskDecl>(slots);
    ItemLowering whole(source, parse.diagnostics, LoweringState{}, tasks, take_pools(storage));
    whole.lower_items(parse.root.first_child(), UINT32_MAX);
    const size_t slot_counts[] = {slots};
    const size_t used[] = {whole.tasks_lowered()};
    keep_lowered_slots(tasks, slot_counts, used);
    model = std::move(whole.model());
    model->tasks = std::move(tasks);
  }
  // Symbols first: the later passes key their lookups by the symbols' qualified names. The two
  // later passes write different fields of the tasks, so a large model runs them at once.
  build_symbols(*model);
  // The task tables for the checks are built on the way: inheriting metadata indexes every
  // task, and qualifying dependencies changes no task's name or group.
  TaskTables tables(*model);
  if (model->tasks.size() >= kTwoRunPassTasks) {
    run_in_parallel([&] { inherit_metadata(*model, tables); },
                    [&] { qualify_dependencies(*model); });
  } else {
    inherit_metadata(*model, tables);
    qualify_dependencies(*model);
  }
  return {std::move(*model), std::move(tables)};
}

// The text `parse` was made from, which the model's views keep alive: the tree's own source, or
// for a tree without one (small, built by hand) a copy of its text.
std::shared_ptr<const std::string> source_of(const ParseResult& parse) {
  if (std::shared_ptr<const std::string> source = parse.root.source()) return source;
  return std::make_shared<const std::string>(parse.root.text());
}

}  // namespace

SemanticModel lower(const ParseResult& parse, ModelStorage storage) {
  return lower_with_tables(parse, std::move(storage)).model;
}

LoweredModel lower_with_tables(const ParseResult& parse, ModelStorage storage) {
  const bool two_runs = parse.root.text_range().len() >= kTwoRunLoweringBytes;
  const TaskSlots counted = two_runs ? find_task_slots_on_two_threads(
                                           parse.root.green(), caller_share(lowering_balance()))
                                     : count_task_slots(parse.root.green(), std::nullopt);
  return lower_model(parse, source_of(parse), counted, std::move(storage));
}

SemanticModel lower(const ParseResult& parse, uint32_t cut) {
  const TaskSlots counted = count_task_slots(parse.root.green(), cut);
  return lower_model(parse, source_of(parse), counted, {}).model;
}

}  // namespace quib
