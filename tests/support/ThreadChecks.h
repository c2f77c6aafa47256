#pragma once
// Death tests of the main-thread checks (NSThread::assertMainThread).

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

// Expects `call`, run on a std::thread of its own, to end the process with the message
// "<qualifiedCall> called off the main thread" (qualifiedCall as "UIView::addSubview"). The
// child process is started afresh ("threadsafe"): it reruns the test up to this point on its
// own main thread, so a fixture's objects are made again there, and no thread of the parent's
// is copied half-way. A build without thread checks skips the test.
inline void expectFailsOffMainThread(const std::string& qualifiedCall,
                                     const std::function<void()>& call) {
#if TILVEX_THREAD_CHECKS
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread(call).join(), qualifiedCall + " called off the main thread");
#else
    (void)qualifiedCall, (void)call;
    GTEST_SKIP() << "built without thread checks (TILVEX_THREAD_CHECKS)";
#endif
}
