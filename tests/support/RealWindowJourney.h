#pragma once
#include "WindowSession.h"
#include "WindowTest.h"

#include <gtest/gtest.h>

#include <memory>

namespace windowtest {

// A journey through a real full-screen window; skipped on the offscreen platform.
// Base is ::testing::Test or a TestWithParam.
template <typename Base = ::testing::Test>
class RealWindowJourney : public Base {
protected:
    void SetUp() override
    {
        if (!hasRealDisplay())
            GTEST_SKIP() << "no X display; test.sh runs these on its Xvfb";
        session = fullScreenSession();
    }

    std::unique_ptr<WindowSession> session;
};

}  // namespace windowtest
