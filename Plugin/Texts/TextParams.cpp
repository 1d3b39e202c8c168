#include "Plugin/Texts/TextParams.h"
#include "Framework/Exceptions.h"

namespace Plugin {

namespace {

std::string Item(const std::string& base, size_t index) { return base + "[" + std::to_string(index) + "]"; }

}  // namespace

void WriteTextParams(PLXDK::Paylantra::PLSession& session, const std::string& base, const TextParams& params) {
    session.SetPropertyInt(base + ".length", (long long)params.size());
    size_t index = 0;
    for (const auto& [name, value] : params) {
        std::string item = Item(base, index++);
        session.SetProperty(item + ".name", name.str());
        session.SetProperty(item + ".value", value);
    }
}

size_t TextParamCount(PLXDK::Paylantra::PLSession& session, const std::string& base) {
    long long count = session.GetPropertyInt(base + ".length");
    if (count <= 0) return 0;
    if (count > kMaxTextParams)
        throw VMAppException(L"Слишком много параметров шаблона: " + Widen(base) + L".length=" +
                             std::to_wstring(count) + L" (не более " + std::to_wstring(kMaxTextParams) + L")");
    return size_t(count);
}

void ReadTextParams(PLXDK::Paylantra::PLSession& session, const std::string& base, size_t count, TextParams& params) {
    for (size_t i = 0; i < count; ++i) {
        std::string item = Item(base, i);
        params[session.GetProperty(item + ".name")] = session.GetProperty(item + ".value");
    }
}

void ClearTextParams(PLXDK::Paylantra::PLSession& session, const std::string& base, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::string item = Item(base, i);
        session.ClearProperty(item + ".name");
        session.ClearProperty(item + ".value");
    }
    session.ClearProperty(base + ".length");
}

}  // namespace Plugin
