#include "Plugin/Settings/Config.h"

namespace Plugin {

std::wstring ReadSetting(HKEY key, const wchar_t* name, const std::wstring& defaultValue) {
    return RegKey::Value(key, name).Text().value_or(defaultValue);
}

std::wstring ReadSetting(HKEY key, const wchar_t* name, const wchar_t* defaultValue) {
    return ReadSetting(key, name, std::wstring(defaultValue ? defaultValue : L""));
}

bool ReadSetting(HKEY key, const wchar_t* name, bool defaultValue) {
    auto value = RegKey::Value(key, name).Int();
    return value ? *value != 0 : defaultValue;
}

int ReadSetting(HKEY key, const wchar_t* name, int defaultValue) {
    auto value = RegKey::Value(key, name).Int();
    return value ? static_cast<int>(*value) : defaultValue;
}

template <class T> static T ReadBoth(HKEY user, HKEY machine, const wchar_t* name, T defaultValue) {
    return ReadSetting(user, name, ReadSetting(machine, name, defaultValue));
}

std::wstring ReadOption(HKEY user, HKEY machine, const wchar_t* name, const std::wstring& defaultValue) {
    return ReadBoth(user, machine, name, defaultValue);
}

std::wstring ReadOption(HKEY user, HKEY machine, const wchar_t* name, const wchar_t* defaultValue) {
    return ReadBoth(user, machine, name, std::wstring(defaultValue ? defaultValue : L""));
}

bool ReadOption(HKEY user, HKEY machine, const wchar_t* name, bool defaultValue) {
    return ReadBoth(user, machine, name, defaultValue);
}

int ReadOption(HKEY user, HKEY machine, const wchar_t* name, int defaultValue) {
    return ReadBoth(user, machine, name, defaultValue);
}

unsigned ReadOption(HKEY user, HKEY machine, const wchar_t* name, unsigned defaultValue) {
    return static_cast<unsigned>(ReadBoth(user, machine, name, static_cast<int>(defaultValue)));
}

}  // namespace Plugin
