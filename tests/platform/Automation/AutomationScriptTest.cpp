// The touch-script reader: which lines it takes and which it refuses before anything runs.

#include <gtest/gtest.h>

#include <string>

#include "platform/Automation/AutomationScript.h"

namespace {

TEST(AutomationScriptTest, WaitsAndRowsOutsideTheirRangeAreRefusedWithTheirLine) {
    struct Case {
        const char* line;
        bool taken;
    };
    const Case cases[] = {
        // Waits: finite, from 0 to 600 s.
        {"wait 0", true},
        {"wait 0.25", true},
        {"wait 600", true},
        {"wait 600.5", false},
        {"wait -5", false},
        {"wait nan", false},
        {"wait inf", false},
        {"wait 1e9", false},
        {"wait soon", false},
        // The limit of a wait-until, under the same rule.
        {"wait-until button.title Stop", true},
        {"wait-until button.title Stop 600", true},
        {"wait-until button.title Stop 99999", false},
        {"wait-until button.title Stop -1", false},
        {"wait-until button.title Stop nan", false},
        {"wait-until button.titleColor 0 0 0 1", true},  // four numbers are the colour
        // Rows: whole numbers from 0 that fit.
        {"select-row 0", true},
        {"delete-row 2147483647", true},
        {"delete-row 2147483648", false},
        {"select-row 99999999999999999999999", false},
        {"select-row -1", false},
        {"select-row 1.5", false},
        {"select-row 0x10", false},
    };
    for (const Case& c : cases) {
        std::string error;
        auto script = AutomationScript::parse("cases.script",
                                              std::string("# first\n") + c.line + "\n", &error);
        EXPECT_EQ(script != nullptr, c.taken) << c.line << ": " << error;
        if (!c.taken) {
            EXPECT_EQ(error.rfind("cases.script:2: ", 0), 0u) << c.line << ": " << error;
        }
    }
}

}  // namespace
