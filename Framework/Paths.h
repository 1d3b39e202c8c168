// File-system path helpers (narrow paths are in the ANSI code page).
#pragma once
#include <string>

// Expands %NAME% references from the process environment; an undefined one stays as written,
// and so does a lone '%'.
std::string ExpEnv(const std::string& text);
std::wstring ExpEnv(const std::wstring& text);
// The name of the first %NAME% reference that ExpEnv would leave as written; empty when none.
std::wstring UndefinedEnvReference(const std::wstring& text);

bool IsAbsolutePath(const std::string& path);   // "C:\...", "C:/...", "\\server\..." or "\..."
bool IsAbsolutePath(const std::wstring& path);
// The full path (relative paths complete against the current folder) ending in a backslash;
// an empty path stays empty.
std::string MakePathSpec(const std::string& path);
std::wstring MakePathSpec(const std::wstring& path);
// `ext` includes its dot. AddDefaultExt adds it only when the file name has no extension;
// SetDefaultExt replaces the extension the file name has (or adds it).
std::string AddDefaultExt(const std::string& path, const std::string& ext);
std::wstring AddDefaultExt(const std::wstring& path, const std::wstring& ext);
std::string SetDefaultExt(const std::string& path, const std::string& ext);
std::wstring SetDefaultExt(const std::wstring& path, const std::wstring& ext);
// The folder part without the trailing separator ("" when there is none), and the name part.
std::string GetParentPath(const std::string& path);
std::wstring GetParentPath(const std::wstring& path);
std::string GetFileName(const std::string& path);
std::wstring GetFileName(const std::wstring& path);
// Creates every missing folder of `folder`; false when one cannot be created.
bool CreatePath(const std::string& folder);
bool CreatePath(const std::wstring& folder);
bool FileExists(const std::string& path);
// Deletes a folder with everything in it; what cannot be deleted stays.
void RemoveTree(const std::wstring& folder);
void RemoveTree(const std::string& folder);
bool FileExists(const std::wstring& path);
// The full file name of a module (null: the process's executable).
std::string ModuleFileName(void* module);
std::wstring ModuleFileNameW(void* module);
