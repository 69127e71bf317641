# Thin entry over CMake presets. Every target that builds first installs what is missing.
.PHONY: all release test fuzz bench bench-e2e demo format deps clean

all: release

deps:
	@scripts/install-deps.sh

release: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release

test: deps
	@cmake --preset debug >/dev/null
	@cmake --build --preset debug
	@ctest --preset debug
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan --target e2e_tests quib-lsp syntax_tests semantic_tests lsp_tests
	@ctest --preset tsan
	@build/tsan/tests/lsp_tests --gtest_brief=1
	@build/tsan/tests/syntax_tests --gtest_brief=1 \
	  --gtest_filter='*RunInParallel*:RunDivided.*:ParseAhead.*:ParseProperty.TwoPart*:ParseProperty.HelperJob*:FormatterProperty.TwoPart*:GreenStorage.Adopt*'
	@build/tsan/tests/semantic_tests --gtest_brief=1 \
	  --gtest_filter='AnalyzeProperty.TwoRun*:AnalyzeProperty.LargeDocuments*:ManyTasks.*'
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/run-fuzzers.sh 20

# Each fuzz target for three minutes; findings stay under build/fuzz/findings/.
fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/run-fuzzers.sh 180

bench: release
	@for b in build/release/bench/*_bench; do \
	  case $$b in */e2e_bench) continue;; esac; \
	  echo "== $$b"; $$b --benchmark_min_time=0.2; done

bench-e2e: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release --target e2e_bench
	@build/release/bench/e2e_bench $(E2E_ARGS)

demo: release
	@scripts/demo.sh

format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
