// Host support: template and text files, the host's folder settings, log helpers, help paths.
// Narrow paths and texts are in the ANSI code page.
#pragma once
#include "AppLog/AppLog.h"
#include "Framework/RealTime.h"
#include "Framework/Text.h"
#include <windows.h>
#include <string>

// The host's folders, each ending with a backslash. RootPath is empty when not configured. A folder
// value that cannot be read raises WindowsError: a default must not stand in for it unseen.
std::string RootPath();
std::string PrintTemplatesPath();
std::string LogRootPath();
std::string LocalHtmlPath();

// The file of a named template, and its text. The path stays wide from the registry to the file
// system, so that a file name the ANSI code page lacks opens all the same. LoadTemplate reports a
// file that cannot be opened as a VMAppException naming the template and the file; a template
// value that cannot be read raises WindowsError.
std::wstring TemplateFilePath(const std::wstring& name);
std::wstring LoadTemplate(const std::wstring& name);

// The whole file: UTF-8 after an EF BB BF signature, otherwise ANSI text. FileAccessException when
// the file cannot be opened. A narrow path is in the ANSI code page.
std::string ReadFileBytes(const std::wstring& path);
std::wstring LoadFile(const std::wstring& path);
inline std::wstring LoadFile(const std::string& path) { return LoadFile(Widen(path)); }
std::wstring DecodeText(const std::string& bytes);

// A text longer than `limit` bytes becomes "[N байт]\r\n", its first `limit` bytes and "\r\n...";
// the marker is written in the text's code page.
std::string ShortenForLog(const std::string& text, size_t limit, UINT codePage = CP_ACP);

// One record of the template error log: the source (a template name) and the reason, each cut to
// 256 bytes, in Windows-1251 as all the plugin's own narrow texts.
std::string TemplateErrorRecord(const std::wstring& source, const std::wstring& reason);

// The first "*" of the path replaced by "(yyyy-mm-dd)" of the day.
std::string DatedLogPath(const std::string& path, RealTime day);
// Sets the log's path dated with today (local time), under the log's lock.
void SetDatedLogPath(AppLog& log, const std::string& path);

// A help file found beside the module or in the host's root folder, with "::topic" and ">window".
std::string ResolveHelpPath(HMODULE module, const std::string& file, const std::string& topic = {},
                            const std::string& window = {});
