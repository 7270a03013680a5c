// The manual pages against the programs: every option that --help lists is
// described in the program's page.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/tools/flash_test_support.h"
#include "tools/controller_sim/sim_options.h"
#include "tools/flash/flash_options.h"

namespace {

// The page's source with roff's escaped hyphens plain.
std::string PageText(const std::string& program) {
    std::string text = flash_test::ReadFile(std::string(VORNIC_MAN_DIR) + "/" + program + ".1.in");
    for (std::size_t at; (at = text.find("\\-")) != std::string::npos;) text.erase(at, 1);
    return text;
}

void ExpectEveryOptionDescribed(const std::string& help, const std::string& program) {
    const std::string page = PageText(program);
    ASSERT_FALSE(page.empty()) << program;
    const std::regex option(R"((?:^|[\s,\[|(])(--?[A-Za-z][A-Za-z0-9-]*))");
    int seen = 0;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it, ++seen) {
        const std::regex described("(^|[^A-Za-z0-9-])" + (*it)[1].str() + "($|[^A-Za-z0-9-])");
        EXPECT_TRUE(std::regex_search(page, described)) << program << ": " << (*it)[1] << " is not in the manual page";
    }
    EXPECT_GT(seen, 10) << program;
}

}  // namespace

TEST(ManualPages, EveryOptionThatHelpListsIsInTheProgramsPage) {
    ExpectEveryOptionDescribed(flash::FlashUsageText(), "vornic-flash");
    ExpectEveryOptionDescribed(sim::HelpText(), "vornic-controller-sim");
}
