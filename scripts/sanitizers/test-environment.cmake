# Read by ctest before the tests of a sanitized build (NIMBO_SANITIZE=ON): the sanitizers' settings,
# inherited by every test process.
#
# Leak stacks are unwound in full (fast_unwind_on_malloc=0): the kernel's libraries are built without
# frame pointers, so the fast unwinder stops inside them and no suppression could name the kernel
# function a leak comes from. Any undefined behaviour ends the test (halt_on_error=1) instead of
# scrolling past in its output. MMGT_OPT=0 keeps the kernel on malloc, where AddressSanitizer sees
# its memory, whatever the caller's environment says.
set(ENV{ASAN_OPTIONS} "fast_unwind_on_malloc=0:check_initialization_order=1:detect_leaks=1")
set(ENV{LSAN_OPTIONS} "suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0")
set(ENV{UBSAN_OPTIONS} "halt_on_error=1:print_stacktrace=1")
set(ENV{MMGT_OPT} "0")
