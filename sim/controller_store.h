// Keeps a simulated controller as a powered one would be kept between
// programs: its axis is saved at every change of motion while a program
// holds it, and when the program closes it or ends, so the next program that
// opens it finds it advanced by the time that passed, even after a program
// killed outright. While a program holds it open, no other program can.
#pragma once

#include "axis_model.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace kvx::sim {

// Names the folder that replaces the user's runtime folder; "off" keeps
// nothing (tests run every program on fresh controllers).
inline constexpr const char* StateFolderVariable = "KVX340_SIM_STATE_DIR";

struct SavedAxis {
    AxisModel::Snapshot axis;
    double savedAt = 0.0; // wall-clock seconds since the epoch
};

std::string encodeSavedAxis(const SavedAxis& saved);
std::optional<SavedAxis> decodeSavedAxis(const std::string& text);

double wallClockNow();

class ControllerStore {
public:
    virtual ~ControllerStore() = default;
    // Claims the controller for this program: false when another program
    // holds it. What was saved of it, if anything, comes in saved.
    virtual bool claim(std::size_t index, const std::string& product, std::optional<SavedAxis>& saved) = 0;
    // Saves the controller while this program goes on holding it; nothing
    // when it does not hold it.
    virtual void keep(std::size_t index, const SavedAxis& state) = 0;
    // Saves the controller and lets other programs have it.
    virtual void release(std::size_t index, const SavedAxis& state) = 0;
};

// One locked file per controller, in $XDG_RUNTIME_DIR (the temporary
// folder on Windows) or the folder KVX340_SIM_STATE_DIR names. Without a
// folder every claim succeeds and nothing is kept; so too, on Linux, with a
// folder that another user owns or other users may write to, or a state
// file that is a link or not the user's own regular file. Each such reason
// is said once on standard error ("off" says nothing).
class FileControllerStore final : public ControllerStore {
public:
    ~FileControllerStore() override;
    bool claim(std::size_t index, const std::string& product, std::optional<SavedAxis>& saved) override;
    void keep(std::size_t index, const SavedAxis& state) override;
    void release(std::size_t index, const SavedAxis& state) override;

    // The folder, or empty when nothing is kept.
    static std::string folder();

private:
    struct Held;
    // Closes what the program holds of that controller, saving nothing. A
    // controller claimed again lets go of its earlier hold first.
    void letGo(std::size_t index);
    std::map<std::size_t, Held*> held_;
};

} // namespace kvx::sim
