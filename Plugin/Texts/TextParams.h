// Named text values passed to a template, and the indexed host properties that carry them between
// the requester and the session extender: "<base>.length", then "<base>[i].name" and ".value".
#pragma once
#include "Framework/Text.h"
#include "xdk/Source/Paylantra/PLSession.h"
#include <map>
#include <string>

namespace Plugin {

using TextParams = std::map<keystringW, std::wstring>;

// More pairs than any template needs; a larger count is refused rather than read a billion times.
constexpr long long kMaxTextParams = 10000;

void WriteTextParams(PLXDK::Paylantra::PLSession& session, const std::string& base, const TextParams& params);
// The count the length property gives: a negative count reads as none, one above kMaxTextParams
// raises VMAppException.
size_t TextParamCount(PLXDK::Paylantra::PLSession& session, const std::string& base);
// Adds the `count` pairs to `params`; a later pair of an equal name wins.
void ReadTextParams(PLXDK::Paylantra::PLSession& session, const std::string& base, size_t count, TextParams& params);
// Clears the pairs' properties, then the length.
void ClearTextParams(PLXDK::Paylantra::PLSession& session, const std::string& base, size_t count);

}  // namespace Plugin
