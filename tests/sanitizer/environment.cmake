# The environment of every test in a sanitizer build (FRAMEWELL_SANITIZE=ON): stop at the first
# error of either sanitizer, with full allocation stacks so that the leak suppressions of the
# libraries under us match their own frames and nothing of ours.
set(FRAMEWELL_SANITIZER_ENVIRONMENT
    "ASAN_OPTIONS=fast_unwind_on_malloc=0:malloc_context_size=20:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
    "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
