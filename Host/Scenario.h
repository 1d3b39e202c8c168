// The scenario language of the terminal simulator: one command a line, run in order against one
// simulated terminal and the plugin loaded into it.
#pragma once
#include "Host/HostObjects.h"
#include "Host/PluginHost.h"
#include <functional>
#include <map>
#include <string>

namespace Host {

// The words of one scenario line. A word with blanks is written in double quotes; inside quotes a
// doubled backslash stands for one.
class Line {
public:
    Line(std::wstring text, std::wstring file, int number) : text_(std::move(text)), file_(std::move(file)), number_(number) {}
    bool AtEnd();
    std::wstring Word();       // the next word; raises when there is none
    std::wstring Peek();       // the next word without taking it; empty at the end
    std::wstring Rest();       // the rest of the line, blanks around it removed
    void Expect(const wchar_t* word);  // the next word must be this one
    long long Number();        // the next word as a decimal number
    std::wstring Where() const;  // "file:line"

private:
    void SkipBlanks();
    std::wstring text_;
    std::wstring file_;
    int number_;
    size_t pos_ = 0;
};

class Scenario {
public:
    explicit Scenario(std::wstring pluginPath);
    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    // Runs every line of the file; false when a line failed or an expectation did not hold.
    bool RunFile(const std::wstring& path);
    // Runs one line; false when it failed. Messages go to `print`.
    bool RunLine(const std::wstring& text, const std::wstring& file = L"", int number = 0);

    std::function<void(const std::wstring&)> print;  // receives every transcript and result line
    Terminal& Host() { return terminal_; }
    PluginModule& Module() { return module_; }

private:
    using Command = std::function<void(Line&)>;
    void Define();
    void Expectation(Line& line, bool holds, const std::wstring& expected, const std::wstring& found);
    void Start();
    void Exit();
    void Say(const std::wstring& text) { if (print) print(text); }
    void DumpKey(HKEY root, const std::wstring& path, int depth);

    std::map<keystringW, Command> commands_;
    std::map<keystringW, Command> expectations_;
    Terminal terminal_;
    PluginModule module_;
    std::wstring pluginPath_;
    co<IPaylantraPlugin> plugin_;
    co<IPaylantraControlPlugin> control_;
    size_t boxesMatched_ = 0;
    std::vector<bool> boxUsed_;
    int failures_ = 0;
};

// "HKLM\Software\..." or "HKEY_CURRENT_USER\..." split into its root and path; raises on others.
HKEY ParseRegistryPath(const std::wstring& text, std::wstring& subpath);
// "2026-12-08 23:59:58" (seconds optional) as a local SYSTEMTIME; raises when malformed.
SYSTEMTIME ParseClock(const std::wstring& text);

}  // namespace Host
