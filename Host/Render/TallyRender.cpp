// Template preview: TallyRender [--drop-undefined-escapes] FILE [NAME=VALUE ...]
// Writes the produced text to stdout and every template error record to stderr, both as UTF-8.
// Exit 0 when text was produced, 1 when an error left the processor, 2 on bad arguments,
// 3 when the file cannot be read.
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Text.h"
#include "MacroProc/MacroProc.h"
#include "PLLib/PLLib.h"
#include <shellapi.h>
#include <vector>

namespace {

void WriteUtf8(DWORD which, const std::wstring& text) {
    std::string bytes = Narrow(text, CP_UTF8);
    HANDLE out = GetStdHandle(which);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        if (!WriteFile(out, bytes.data() + done, DWORD(bytes.size() - done), &wrote, nullptr) || wrote == 0) return;
        done += wrote;
    }
}

int Run(const std::vector<std::wstring>& args) {
    size_t i = 0;
    bool drop = false;
    if (i < args.size() && args[i] == L"--drop-undefined-escapes") {
        drop = true;
        ++i;
    }
    if (i >= args.size()) {
        WriteUtf8(STD_ERROR_HANDLE, L"usage: TallyRender [--drop-undefined-escapes] FILE [NAME=VALUE ...]\n");
        return 2;
    }
    const std::wstring file = args[i++];
    std::wstring text;
    try {
        text = LoadFile(file);
    } catch (const VelmorException& e) {
        WriteUtf8(STD_ERROR_HANDLE, e.ReasonW() + L"\n");
        return 3;
    }
    // Every template error goes to stderr as the template error log records it; the text goes on.
    MacroProc::Processor processor(GetFileName(file), [](const stringW& source, const MacroProc::Error& error) {
        WriteUtf8(STD_ERROR_HANDLE, Widen1251(TemplateErrorRecord(source, error.ReasonW())) + L"\n");
        return true;
    });
    processor.dropUndefinedEscapes = drop;
    for (; i < args.size(); ++i) {
        size_t eq = args[i].find(L'=');
        if (eq == std::wstring::npos || eq == 0) {
            WriteUtf8(STD_ERROR_HANDLE, L"not a NAME=VALUE definition: " + args[i] + L"\n");
            return 2;
        }
        processor.Define(args[i].substr(0, eq), args[i].substr(eq + 1));
    }
    try {
        WriteUtf8(STD_OUTPUT_HANDLE, processor.Process(text));
    } catch (const VelmorException& e) {
        WriteUtf8(STD_ERROR_HANDLE, e.ReasonW() + L"\n");
        return 1;
    } catch (const std::exception& e) {
        WriteUtf8(STD_ERROR_HANDLE, Widen(e.what()) + L"\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int k = 1; k < count; ++k) args.emplace_back(argv[k]);
    LocalFree(argv);
    return Run(args);
}
