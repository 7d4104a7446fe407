#!/usr/bin/env bash
# Builds the SMS client's document, store and engine with ThreadSanitizer (in
# build-tsan, or the directory given) and runs their tests: synchronisations
# with the window's worker threads, a phonebook synchronisation on a worker,
# autosync while other programs write the store, the phone link's listener.
# Kept out of scripts/test.sh: it builds everything once more.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}
jobs=${JOBS:-2}
tests=(cordis_link_test parlo_store_test parlo_sms_engine_test parlo_app_doc_test
       parlo_app_phonebook_test parlo_app_store_test parlo_cli_sync_test
       parlo_cli_concurrency_test)

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKYVANE_TSAN=ON -DSKYVANE_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs" --target "${tests[@]}" phonesim parlo-cli parlo_device_db

# A report is a failure; the second report of the same race adds nothing.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp}
pattern=$(IFS='|'; echo "^(${tests[*]})$")
(cd "$build" && ctest --output-on-failure -j"$jobs" -R "$pattern")
echo "The ThreadSanitizer build's tests passed."
