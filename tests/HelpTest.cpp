// The compiled help file as the help library reads it, listed and extracted with chmls beforehand
// (HelpFile.Extract): the pop-up text of every topic the page and the dialogs ask for, and every
// link, picture and contents entry pointing at a file and anchor inside it.
#include "Framework/Text.h"
#include "Plugin/Page/ContextHelp.h"
#include "tests/TestFiles.h"
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string kExtracted = TALLY_HELP_DIR;

// The names chmls listed: the help file's own directory.
std::set<std::string> ListedFiles() {
    std::set<std::string> names;
    std::istringstream listing(ReadBytes(kExtracted + ".list"));
    for (std::string line; std::getline(listing, line);)
        if (!line.empty() && line[0] == '/' && line.find("::") == std::string::npos) names.insert(line.substr(1));
    return names;
}

// ".topic N" entries and the text under each, up to the next entry.
std::map<unsigned, std::string> PopupTexts(const std::string& bytes) {
    std::map<unsigned, std::string> texts;
    std::regex entry(R"((?:^|\n)\.topic[ \t]+(\d+)[ \t]*\r?\n([^]*?)(?=\n\.topic|$))");
    for (std::sregex_iterator it(bytes.begin(), bytes.end(), entry), end; it != end; ++it)
        texts[unsigned(std::stoul((*it)[1]))] = std::regex_replace((*it)[2].str(), std::regex(R"(^\s+|\s+$)"), "");
    return texts;
}

TEST(HelpFile, HoldsThePopupTextOfEveryTopicTheWindowsAskFor) {
    const std::string file = Plugin::ContextHelpFile(nullptr);
    const size_t inside = file.find("::/");
    ASSERT_NE(std::string::npos, inside) << "the pop-up call must name the text file inside the help file: " << file;
    const std::string name = file.substr(inside + 3);
    ASSERT_TRUE(ListedFiles().count(name)) << name << " is not in the help file";
    const auto texts = PopupTexts(ReadBytes(kExtracted + "\\" + name));
    for (Plugin::HelpTopics topics : {Plugin::kControlPageHelp, Plugin::kCollectParamsHelp, Plugin::kAlertSetupHelp,
                                      Plugin::kStackerLimitHelp})
        for (const Plugin::HelpTopic& entry : topics) {
            auto text = texts.find(entry.topic);
            ASSERT_TRUE(text != texts.end()) << "no pop-up for topic " << entry.topic << " of control " << entry.control;
            // In the help file's code page, as the help library shows it: Russian, readable.
            EXPECT_NE(std::string::npos, Widen(text->second, 1251).find_first_of(L"абвгдеёжзийклмнопрстуфхцчшщыьэюя"))
                << "topic " << entry.topic;
        }
}

TEST(HelpFile, EveryInternalLinkAndPictureResolves) {
    const std::set<std::string> files = ListedFiles();
    ASSERT_TRUE(files.count("index.htm") && files.count("Tallymark.hhc")) << "contents or start page missing";
    std::regex reference(R"re((?:href|src)="([^"]*)"|name="Local" value="([^"]*)")re", std::regex::icase);
    std::regex anchor(R"re(id="([^"]*)")re");
    std::map<std::string, std::set<std::string>> anchors;
    for (const std::string& name : files)
        if (name.ends_with(".htm")) {
            const std::string page = ReadBytes(kExtracted + "\\" + name);
            for (std::sregex_iterator it(page.begin(), page.end(), anchor), end; it != end; ++it)
                anchors[name].insert((*it)[1]);
        }
    size_t links = 0;
    for (const std::string& name : files) {
        if (!name.ends_with(".htm") && !name.ends_with(".hhc")) continue;
        const std::string page = ReadBytes(kExtracted + "\\" + name);
        for (std::sregex_iterator it(page.begin(), page.end(), reference), end; it != end; ++it) {
            std::string target = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
            if (target.find(':') != std::string::npos) continue;  // outside the file: http:, mailto:
            ++links;
            const size_t hash = target.find('#');
            const std::string fragment = hash == std::string::npos ? "" : target.substr(hash + 1);
            if (hash != std::string::npos) target.erase(hash);
            if (target.empty()) target = name;
            EXPECT_TRUE(files.count(target)) << name << " points at " << target << ", which the help file lacks";
            if (!fragment.empty()) {
                EXPECT_TRUE(anchors[target].count(fragment)) << name << " points at " << target << "#" << fragment;
            }
        }
    }
    EXPECT_GT(links, 30u) << "the pages were not read";
}

}  // namespace
