#include "foundation/NvLog.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "foundation/NvExceptions.h"
#include "platform/win32.h"

namespace nv {

namespace {

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

// ---- TNvLogBuffer ------------------------------------------------------------------------------

TNvLogBuffer::TNvLogBuffer() {
    SetCapacity(100);
}

TNvLogBuffer::~TNvLogBuffer() = default;

void TNvLogBuffer::SetCapacity(int capacity) {
    while (capacity > 0 && static_cast<int>(lines_.size()) > capacity)
        lines_.pop_front();
    capacity_ = capacity;
}

void TNvLogBuffer::AddNewLine(const std::string& line) {
    while (capacity_ > 0 && static_cast<int>(lines_.size()) >= capacity_)
        lines_.pop_front();
    lines_.push_back(line);
    NewLine(line);
}

const std::string& TNvLogBuffer::Lines(int index) const {
    if (index < 0 || index >= GetCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return lines_[static_cast<std::size_t>(index)];
}

void TNvLogBuffer::NewLine(const std::string& line) {
    CallEvent(OnNewLine, this, line);
}

bool TNvLogBuffer::SaveToFile(const std::string& fileName) const {
    // The file is rewritten after every line, so a crash or a full disk in the middle of a write
    // must not cost the user the log recorded so far: the new content goes to a temporary file
    // beside the old one, which is replaced only once the new one is complete.
    std::error_code ec;
    const std::filesystem::path target = PathOf(fileName);
    std::filesystem::path temporary = target;
    temporary += PathOf(".~" + std::to_string(GetCurrentProcessId()) + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        for (const std::string& line : lines_) {
            out.write(line.data(), static_cast<std::streamsize>(line.size()));
            out.write("\r\n", 2);
        }
        out.close();
        if (!out) {
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

void TNvLogBuffer::AssignTo(TPersistent* dest) {
    if (auto* list = dynamic_cast<TNvStringList*>(dest)) {
        list->BeginUpdate();
        try {
            list->Clear();
            for (const std::string& line : lines_)
                list->Add(line);
        } catch (...) {
            list->EndUpdate();
            throw;
        }
        list->EndUpdate();
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- TNvLog ----------------------------------------------------------------------------------------

TNvLog::TNvLog() = default;

TNvLog::~TNvLog() = default;

std::string TNvLog::AddLine(const std::string& message) {
    if (!active_)
        return {};
    std::string line = FormatDateTime(dateTimeFormat_, CurrentTime()) + " " + message;
    buffer_.AddNewLine(line);
    // A file that cannot be written now is tried again with the next line; the line is kept in
    // memory either way.
    if (!fileName_.empty())
        buffer_.SaveToFile(fileName_);
    DoChange(message);
    return line;
}

void TNvLog::SetFileName(const std::string& fileName) {
    if (fileName != fileName_)
        fileName_ = fileName;
}

void TNvLog::DoChange(const std::string& message) {
    CallEvent(OnChange, this, message);
}

TDateTime TNvLog::CurrentTime() const {
    return Now();
}

void TNvLog::Assign(TPersistent* source) {
    if (auto* log = dynamic_cast<TNvLog*>(source)) {
        SetFileName(log->FileName());
        SetMaxLines(log->MaxLines());
        SetActive(log->Active());
        return;
    }
    TPersistent::Assign(source);
}

void TNvLog::AssignTo(TPersistent* dest) {
    if (dynamic_cast<TNvStringList*>(dest) != nullptr) {
        dest->Assign(&buffer_);
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- AddLogLine ------------------------------------------------------------------------------------

void AddLogLine(TNvStringList& lines, const std::string& message, int maximum,
                const std::string& dateTimeFormat, TNvLogLineOptions options, TDateTime at) {
    if (maximum < 0) {
        lines.Clear();
        return;
    }
    const bool append = (options & lloAppend) != 0;
    // The oldest line is at the end opposite to where new lines go in.
    while (maximum > 0 && lines.Count() >= maximum)
        lines.Delete(append ? 0 : lines.Count() - 1);
    const int index = append ? lines.Count() : 0;
    std::string text = message;
    if ((options & (lloTimeStamp | lloDateStamp)) != 0)
        text = FormatDateTime(dateTimeFormat, at) + " " + message;
    lines.Insert(index, text);
}

void AddLogLine(TNvStringList& lines, const std::string& message, int maximum,
                const std::string& dateTimeFormat, TNvLogLineOptions options) {
    AddLogLine(lines, message, maximum, dateTimeFormat, options, Now());
}

}  // namespace nv
