#pragma once

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace koru::test {

// Runs a test body once in the "C" locale and once in a decimal-comma locale, where printf-style
// formatting would write "94,0".
class LocaleTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        m_locale = std::make_unique<ScopedLocale>(GetParam());
        if (!m_locale->active())
            GTEST_SKIP() << GetParam() << " is not installed";
    }
    void TearDown() override { m_locale.reset(); }

private:
    std::unique_ptr<ScopedLocale> m_locale;
};

inline const auto kLocales = ::testing::Values("C", "de_DE.UTF-8");

inline std::string localeName(const ::testing::TestParamInfo<const char*>& info) {
    return std::string(info.param).substr(0, 5) == "de_DE" ? "de_DE" : "C";
}

} // namespace koru::test
