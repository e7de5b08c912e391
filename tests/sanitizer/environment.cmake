# The environment of every test in a sanitizer build (FRAMEWELL_SANITIZE=ON): stop at the first
# error of either sanitizer, with full allocation stacks so that the leak suppressions of the
# libraries under us match their own frames and nothing of ours.
#
# intercept_tls_get_addr=0: with it on, LeakSanitizer's exit-time scan here takes a garbage
# range for a thread's dynamic TLS ("DTLS at 0x300a-0x80000410c" with log_threads=1) and crashes
# on it ("Tracer caught signal 11"), failing tests that passed; test_video_window_keys did so
# every time. Heap and stack checks and the leak check itself are unchanged by it.
set(FRAMEWELL_SANITIZER_ENVIRONMENT
    "ASAN_OPTIONS=fast_unwind_on_malloc=0:malloc_context_size=20:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:intercept_tls_get_addr=0"
    "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
