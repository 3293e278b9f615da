#include "controller_store.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvx::sim {
namespace {

constexpr const char* Signature = "kvx340sim-state 1";

// Numbers are written and read without the locale, which a Qt program sets
// from the user's (a decimal comma would not read back).
std::string text(double value)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

template <typename Number>
bool readNumber(const std::string& word, Number& value)
{
    const auto result = std::from_chars(word.data(), word.data() + word.size(), value);
    return result.ec == std::errc() && result.ptr == word.data() + word.size();
}

std::string hex(const Frame& frame)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t byte : frame) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

bool unhex(const std::string& word, Frame& frame)
{
    if (word.size() != 2 * frame.size())
        return false;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        unsigned value = 0;
        const auto result = std::from_chars(word.data() + 2 * i, word.data() + 2 * i + 2, value, 16);
        if (result.ec != std::errc() || result.ptr != word.data() + 2 * i + 2)
            return false;
        frame[i] = static_cast<uint8_t>(value);
    }
    return true;
}

// FNV-1a: the same name for the same product string on every run.
uint64_t productKey(const std::string& product)
{
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : product) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string stateFileName(std::size_t index, const std::string& product)
{
    char name[64];
    std::snprintf(name, sizeof name, "kvx340sim-%llu-%016llx.state", static_cast<unsigned long long>(index),
                  static_cast<unsigned long long>(productKey(product)));
    return name;
}

#ifndef _WIN32
// Once per program for each reason: a script's author learns why a move did
// not last, without a line for every controller opened.
void sayOnce(const std::string& why)
{
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard lock(mutex);
    if (said.insert(why).second)
        std::fprintf(stderr, "kvx340sim: %s\n", why.c_str());
}

void notKept(const std::string& why)
{
    sayOnce("simulated controllers start fresh and are not kept after this program: " + why);
}
#endif

// Whatever a file holds, the axis restored from it can move, stop and
// report: every number finite and within what the axis can reach, so that
// no value leaves it busy for good.
bool withinTheAxisRange(const SavedAxis& saved)
{
    using namespace AxisConstants;
    const AxisModel::Snapshot& a = saved.axis;
    constexpr double Reported = std::numeric_limits<int32_t>::max(); // the status frame's position
    constexpr double Fastest = 255 * StepsPerSecondPerSpeedUnit;     // MaxSpeed at its largest
    const auto within = [](double value, double limit) { return std::isfinite(value) && std::fabs(value) <= limit; };
    return std::isfinite(saved.savedAt) && saved.savedAt >= 0 && within(a.position, Reported) &&
           within(a.velocity, Fastest) && within(a.travel, TravelLimit) &&
           within(static_cast<double>(a.moveTarget), 2 * Reported); // a relative move from any reported position
}

} // namespace

double wallClockNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string encodeSavedAxis(const SavedAxis& saved)
{
    const AxisModel::Snapshot& a = saved.axis;
    std::string out = std::string(Signature) + "\n";
    out += "saved " + text(saved.savedAt) + "\n";
    out += "command " + hex(encodeCommandFrame(a.command)) + "\n";
    out += "previous " + std::to_string(a.previousCommandByte) + "\n";
    out += "position " + text(a.position) + "\n";
    out += "velocity " + text(a.velocity) + "\n";
    out += "travel " + text(a.travel) + "\n";
    out += "movePending " + std::to_string(int(a.movePending)) + "\n";
    out += "moveTarget " + std::to_string(a.moveTarget) + "\n";
    out += "jogging " + std::to_string(int(a.jogging)) + "\n";
    out += "stopping " + std::to_string(int(a.stopping)) + "\n";
    return out;
}

std::optional<SavedAxis> decodeSavedAxis(const std::string& contents)
{
    std::istringstream lines(contents);
    std::string line;
    if (!std::getline(lines, line) || line != Signature)
        return std::nullopt;
    SavedAxis saved;
    AxisModel::Snapshot& a = saved.axis;
    int found = 0;
    while (std::getline(lines, line)) {
        const auto blank = line.find(' ');
        if (blank == std::string::npos)
            return std::nullopt;
        const std::string key = line.substr(0, blank), word = line.substr(blank + 1);
        int flag = 0;
        bool ok = false;
        if (key == "saved")
            ok = readNumber(word, saved.savedAt);
        else if (key == "command") {
            Frame frame{};
            ok = unhex(word, frame);
            a.command = decodeCommandFrame(frame.data());
        } else if (key == "previous")
            ok = readNumber(word, a.previousCommandByte);
        else if (key == "position")
            ok = readNumber(word, a.position);
        else if (key == "velocity")
            ok = readNumber(word, a.velocity);
        else if (key == "travel")
            ok = readNumber(word, a.travel);
        else if (key == "moveTarget")
            ok = readNumber(word, a.moveTarget);
        else if (key == "movePending" || key == "jogging" || key == "stopping") {
            ok = readNumber(word, flag) && (flag == 0 || flag == 1);
            (key == "movePending" ? a.movePending : key == "jogging" ? a.jogging : a.stopping) = flag == 1;
        }
        if (!ok)
            return std::nullopt;
        ++found;
    }
    if (found != 10 || !withinTheAxisRange(saved))
        return std::nullopt;
    return saved;
}

namespace {

bool keepingTurnedOff()
{
    const char* chosen = std::getenv(StateFolderVariable);
    return chosen && std::string(chosen) == "off";
}

} // namespace

std::string FileControllerStore::folder()
{
    if (keepingTurnedOff())
        return std::string();
    if (const char* chosen = std::getenv(StateFolderVariable))
        return std::string(chosen);
#ifdef _WIN32
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    return error ? std::string() : temporary.string();
#else
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime ? std::string(runtime) : std::string();
#endif
}

#ifdef _WIN32

// Opened without sharing: a second program's open fails until the first
// closes it, or ends in whatever way.
struct FileControllerStore::Held {
    HANDLE file;
};

void FileControllerStore::letGo(std::size_t index)
{
    const auto found = held_.find(index);
    if (found == held_.end())
        return;
    CloseHandle(found->second->file);
    delete found->second;
    held_.erase(found);
}

bool FileControllerStore::claim(std::size_t index, const std::string& product, std::optional<SavedAxis>& saved)
{
    saved.reset();
    if (folder().empty())
        return true;
    const std::filesystem::path path = std::filesystem::path(folder()) / stateFileName(index, product);
    const HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_SHARING_VIOLATION; // no folder to keep it in: nothing kept
    std::string contents;
    char buffer[1024];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0)
        contents.append(buffer, count);
    saved = decodeSavedAxis(contents);
    letGo(index);
    held_[index] = new Held{file};
    return true;
}

void FileControllerStore::keep(std::size_t index, const SavedAxis& state)
{
    const auto found = held_.find(index);
    if (found == held_.end())
        return;
    const HANDLE file = found->second->file;
    const std::string contents = encodeSavedAxis(state);
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WriteFile(file, contents.data(), DWORD(contents.size()), &written, nullptr);
    SetEndOfFile(file);
}

#else

// Locked with flock: the lock goes with the program, however it ends.
struct FileControllerStore::Held {
    int fd;
};

void FileControllerStore::letGo(std::size_t index)
{
    const auto found = held_.find(index);
    if (found == held_.end())
        return;
    ::close(found->second->fd);
    delete found->second;
    held_.erase(found);
}

namespace {

// The folder that keeps the state files, opened, or -1 (and why, said once)
// when nothing may be kept there: a folder other users may write to could
// hold their links and files under our names.
int openStateFolder(const std::string& path)
{
    if (path.empty()) {
        if (!keepingTurnedOff())
            notKept("$XDG_RUNTIME_DIR is not set (name a folder of your own in KVX340_SIM_STATE_DIR to keep them)");
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        notKept("cannot use the state folder " + path + " (" + std::strerror(errno) + ")");
    } else if (info.st_uid != ::geteuid()) {
        notKept("the state folder " + path + " belongs to another user");
    } else if (info.st_mode & (S_IWGRP | S_IWOTH)) {
        notKept("other users may write to the state folder " + path);
    } else {
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// The controller's state file, opened without following a link and only
// when it is a regular file of the user's own with no other name; else -1.
int openStateFile(int folder, const std::string& folderPath, const std::string& name)
{
    const std::string path = folderPath + "/" + name;
    const int fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        notKept(path + (errno == ELOOP ? " is a symbolic link" : std::string(" cannot be opened (") +
                                                                     std::strerror(errno) + ")"));
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_nlink != 1) {
        notKept(path + " is not a regular file of this user's with only that name");
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool FileControllerStore::claim(std::size_t index, const std::string& product, std::optional<SavedAxis>& saved)
{
    saved.reset();
    const std::string folderPath = folder();
    const int folderFd = openStateFolder(folderPath);
    if (folderFd < 0)
        return true; // nothing kept: a fresh controller
    const int fd = openStateFile(folderFd, folderPath, stateFileName(index, product));
    ::close(folderFd);
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    std::string contents;
    char buffer[1024];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
        contents.append(buffer, std::size_t(count));
    saved = decodeSavedAxis(contents);
    letGo(index);
    held_[index] = new Held{fd};
    return true;
}

// Written over in place, so the lock stays: the new state first, then the
// end cut (never an empty file, should the program die in between).
void FileControllerStore::keep(std::size_t index, const SavedAxis& state)
{
    const auto found = held_.find(index);
    if (found == held_.end())
        return;
    const int fd = found->second->fd;
    const std::string contents = encodeSavedAxis(state);
    const ssize_t written = ::pwrite(fd, contents.data(), contents.size(), 0);
    if (written == ssize_t(contents.size())) {
        [[maybe_unused]] const int cut = ::ftruncate(fd, off_t(contents.size()));
    }
}

#endif

void FileControllerStore::release(std::size_t index, const SavedAxis& state)
{
    keep(index, state);
    letGo(index);
}

FileControllerStore::~FileControllerStore()
{
    // Let go without saving: the bus saves what it still has open first.
    while (!held_.empty())
        letGo(held_.begin()->first);
}

} // namespace kvx::sim
