#include "crawl/CrawlStack.h"

#include <exception>
#include <sys/mman.h>
#include <ucontext.h>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#else
// Without AddressSanitizer the stack switches need no announcement.
inline void __sanitizer_start_switch_fiber(void**, const void*, size_t) {}
inline void __sanitizer_finish_switch_fiber(void*, const void**, size_t*) {}
#endif

namespace {

struct CrawlStack {
    void* base = nullptr;
    ucontext_t caller{};
    ucontext_t crawl{};
    const std::function<void()>* work = nullptr;
    std::exception_ptr error;
    bool running = false;
    const void* callerBottom = nullptr;
    size_t callerSize = 0;

    CrawlStack() {
        // Address space only: the kernel hands out pages as the recursion touches them.
        void* p = ::mmap(nullptr, kCrawlStackBytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
        base = p == MAP_FAILED ? nullptr : p;
        // The lowest page stays inaccessible, so running off the end faults at once.
        if (base)
            ::mprotect(base, 4096, PROT_NONE);
    }
    ~CrawlStack() {
        if (base)
            ::munmap(base, kCrawlStackBytes);
    }
};

CrawlStack& Stack() {
    static CrawlStack stack;
    return stack;
}

void Trampoline() {
    CrawlStack& stack = Stack();
    __sanitizer_finish_switch_fiber(nullptr, &stack.callerBottom, &stack.callerSize);
    try {
        (*stack.work)();
    } catch (...) {
        stack.error = std::current_exception();
    }
    // Returning resumes the caller through uc_link.
    __sanitizer_start_switch_fiber(nullptr, stack.callerBottom, stack.callerSize);
}

} // namespace

void RunOnCrawlStack(const std::function<void()>& work) {
    CrawlStack& stack = Stack();
    if (stack.running || !stack.base) {
        work(); // already on it, or no stack could be reserved: run where we are
        return;
    }
    stack.work = &work;
    stack.error = nullptr;
    ::getcontext(&stack.crawl);
    stack.crawl.uc_stack.ss_sp = stack.base;
    stack.crawl.uc_stack.ss_size = kCrawlStackBytes;
    stack.crawl.uc_link = &stack.caller;
    ::makecontext(&stack.crawl, Trampoline, 0);
    stack.running = true;
    void* fakeStack = nullptr;
    __sanitizer_start_switch_fiber(&fakeStack, stack.base, kCrawlStackBytes);
    ::swapcontext(&stack.caller, &stack.crawl);
    __sanitizer_finish_switch_fiber(fakeStack, nullptr, nullptr);
    stack.running = false;
    stack.work = nullptr;
    if (stack.error)
        std::rethrow_exception(std::exchange(stack.error, nullptr));
}
