// The line log: a bounded list of time-stamped text lines, optionally mirrored to a file, and the
// helper that shows log lines in a text control.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "foundation/NvObject.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"

namespace nv {

using TNvLogLineEvent = std::function<void(TObject* sender, const std::string& line)>;

// The lines, oldest first. When full, each new line pushes out the oldest one.
class TNvLogBuffer : public TPersistent {
public:
    TNvLogBuffer();
    ~TNvLogBuffer() override;

    // 0 or less: unlimited. Lowering it drops the oldest lines at once.
    int Capacity() const { return capacity_; }
    void SetCapacity(int capacity);

    void AddNewLine(const std::string& line);
    int GetCount() const { return static_cast<int>(lines_.size()); }
    int Count() const { return GetCount(); }
    // EListError "List index out of bounds (%d)" outside 0 .. Count() - 1.
    const std::string& Lines(int index) const;
    void Clear() { lines_.clear(); }

    // Writes every line followed by CR LF, replacing the file. The file is written under a
    // temporary name in the same folder and then renamed over the old one, so a failure leaves
    // the previous file as it was. Failures are not raised; the result tells whether it worked.
    bool SaveToFile(const std::string& fileName) const;

    TNvLogLineEvent OnNewLine;

protected:
    virtual void NewLine(const std::string& line);
    // A TNvStringList target receives a copy of the lines.
    void AssignTo(TPersistent* dest) override;

private:
    std::deque<std::string> lines_;
    int capacity_ = 0;
};

class TNvLog : public TPersistent {
public:
    TNvLog();
    ~TNvLog() override;

    // Records "<time stamp> <message>" while Active and returns it ("" when inactive). With a
    // file name the whole buffer is written to the file after the line.
    std::string AddLine(const std::string& message);

    bool Active() const { return active_; }
    void SetActive(bool value) { active_ = value; }
    const std::string& DateTimeFormat() const { return dateTimeFormat_; }
    void SetDateTimeFormat(const std::string& format) { dateTimeFormat_ = format; }
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& fileName);
    int MaxLines() const { return buffer_.Capacity(); }
    void SetMaxLines(int value) { buffer_.SetCapacity(value); }

    TNvLogBuffer& Buffer() { return buffer_; }
    const TNvLogBuffer& Buffer() const { return buffer_; }
    int Count() const { return buffer_.Count(); }
    const std::string& Lines(int index) const { return buffer_.Lines(index); }

    // Carries the message without the time stamp.
    TNvLogLineEvent OnChange;

    // From another TNvLog: FileName, MaxLines and Active (not the lines, the format or OnChange).
    void Assign(TPersistent* source) override;

    static constexpr const char* DefaultDateTimeFormat = "yyyy/mm/dd hh:nn:ss.zzz";

protected:
    virtual void DoChange(const std::string& message);
    // The time a line is stamped with; the local time now.
    virtual TDateTime CurrentTime() const;
    void AssignTo(TPersistent* dest) override;

private:
    TNvLogBuffer buffer_;
    bool active_ = false;
    std::string dateTimeFormat_ = DefaultDateTimeFormat;
    std::string fileName_;
};

// Options of AddLogLine, combined with "|".
using TNvLogLineOptions = unsigned;
constexpr TNvLogLineOptions lloTimeStamp = 1;  // prefix the time stamp
constexpr TNvLogLineOptions lloDateStamp = 2;  // prefix the time stamp (same effect)
constexpr TNvLogLineOptions lloAppend = 4;     // newest line at the bottom, else at the top

// Adds a message to the lines shown in a text control, keeping at most `maximum` lines
// (0: no limit) and dropping the oldest; a negative maximum empties the list.
void AddLogLine(TNvStringList& lines, const std::string& message, int maximum,
                const std::string& dateTimeFormat, TNvLogLineOptions options);
// The same with the time stamp taken from `at` instead of the clock.
void AddLogLine(TNvStringList& lines, const std::string& message, int maximum,
                const std::string& dateTimeFormat, TNvLogLineOptions options, TDateTime at);

}  // namespace nv
