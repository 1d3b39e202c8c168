// Scratch folders and whole-file reads for tests.
#pragma once
#include "Framework/RealTime.h"
#include <windows.h>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }  // no trailing backslash

private:
    std::string path_;
};

std::string ReadBytes(const std::string& path);  // empty when the file cannot be read
std::vector<std::string> ReadLines(const std::string& path);  // CR LF separated
void WriteBytes(const std::string& path, const std::string& bytes);

// A local time of the calendar.
RealTime LocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
