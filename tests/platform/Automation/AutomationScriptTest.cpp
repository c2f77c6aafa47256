// The touch-script reader: which lines it takes and which it refuses before anything runs.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/Automation/AutomationScript.h"
#include "tests/support/TemporaryFolder.h"

namespace {

TEST(AutomationScriptTest, WaitsAndRowsOutsideTheirRangeAreRefusedWithTheirLine) {
    struct Case {
        std::string line;
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
        // Decimal digits with at most one point, nothing else.
        {"wait .5", true},
        {"wait 0x10", false},
        {"wait 1e1", false},
        {"wait +5", false},
        {"wait 1.2.3", false},
        {"wait .", false},
        {"wait 1" + std::string(400, '0'), false},
        // The limit of a wait-until, under the same rule.
        {"wait-until button.title Stop", true},
        {"wait-until button.title Stop 600", true},
        {"wait-until button.title Stop 99999", false},
        {"wait-until button.title Stop -1", false},
        {"wait-until button.title Stop nan", false},
        {"wait-until button.titleColor 0 0 0 1", true},  // four numbers are the colour
        {"wait-until button.title Stop 0x10", false},
        {"wait-until button.title Stop 1e1", false},
        {"wait-until button.titleColor 0 0 0 0x1", true},  // the colour is text
        // Slider values and locations: decimal too, a minus allowed.
        {"slide seekSlider 0.5", true},
        {"slide seekSlider 0x1", false},
        {"location -33.87 151.21", true},
        {"location 1e1 0", false},
        {"location 0 inf", false},
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

// A NUL byte or an overlong line is refused with its line, instead of cutting a word short or
// reading without end.
TEST(AutomationScriptTest, LinesWithANulByteOrPastTheLengthAreRefusedWithTheirLine) {
    struct Case {
        const char* name;
        std::string line;
        bool taken;
    };
    const std::string kNul(1, '\0');
    const Case cases[] = {
        {"a NUL in a name", "tap but" + kNul + "ton", false},
        {"a NUL in a number", "wait 1" + kNul + "00", false},
        {"a NUL in a comment", "tap button # " + kNul, false},
        {"4096 bytes", "tap " + std::string(4092, 'x'), true},
        {"4097 bytes", "tap " + std::string(4093, 'x'), false},
        {"a long comment", "quit #" + std::string(5000, '-'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        auto script = AutomationScript::parse("cases.script", "# first\n" + c.line + "\n", &error);
        EXPECT_EQ(script != nullptr, c.taken) << error;
        if (!c.taken) {
            EXPECT_EQ(error.rfind("cases.script:2: ", 0), 0u) << error;
        }
    }
}

// A script file is read up to its size limit, and no further: a larger one, or one without end,
// is refused with the file's name.
TEST(AutomationScriptTest, AScriptPastItsSizeIsRefusedWithTheFileName) {
    TemporaryFolder folder;
    const std::string fits = folder / "fits.script";
    const std::string large = folder / "large.script";
    const std::string line = "wait 0 # " + std::string(1014, '.') + "\n";  // 1024 bytes
    {
        std::ofstream out(fits);
        for (int i = 0; i < 1024; ++i) out << line;
        std::ofstream(large) << std::ifstream(fits).rdbuf() << "\n";
    }
    std::string error;
    EXPECT_NE(AutomationScript::load(fits, &error), nullptr) << error;
    for (const std::string& path : {large, std::string("/dev/zero")}) {
        error.clear();
        EXPECT_EQ(AutomationScript::load(path, &error), nullptr) << path;
        EXPECT_EQ(error, path + ": the script is larger than 1048576 bytes");
    }
    EXPECT_EQ(AutomationScript::load(folder.path(), &error), nullptr);
    EXPECT_EQ(error, folder.path() + ": cannot read the script");
}

}  // namespace
