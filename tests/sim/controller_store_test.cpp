// A simulated controller kept between programs: what is saved of it, the
// lock that keeps it to one program, and the axis restored on the next open.
#include "controller_store.h"
#include "design_frame.h"
#include "manual_clock.h"
#include "sim_bus.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kvx;
using namespace kvx::sim;
using kvx::sim::test::designFrame;

namespace {

AxisModel movingAxis()
{
    AxisModel axis;
    axis.apply(kvx::sim::test::designCommand(CommandBit::Go, 1500));
    axis.advance(0.2);
    return axis;
}

TEST(SavedAxis, ReadsBackExactlyAndRefusesAnythingElse)
{
    const SavedAxis saved{movingAxis().snapshot(), 1796709114.1862714};
    const std::string text = encodeSavedAxis(saved);
    const auto back = decodeSavedAxis(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->savedAt, saved.savedAt);
    EXPECT_EQ(back->axis.position, saved.axis.position);
    EXPECT_EQ(back->axis.velocity, saved.axis.velocity);
    EXPECT_EQ(back->axis.moveTarget, 1500);
    EXPECT_TRUE(back->axis.movePending);
    EXPECT_EQ(encodeCommandFrame(back->axis.command), encodeCommandFrame(saved.axis.command));

    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    for (const std::string& broken :
         {std::string(), replaced("kvx340sim-state 1", "kvx340sim-state 2"), replaced("position ", "position x"),
          replaced("jogging 0", "jogging 2"), replaced("command ", "command 00"),
          text.substr(0, text.find("stopping")), text + "extra 1\n"})
        EXPECT_FALSE(decodeSavedAxis(broken)) << broken;
}

TEST(FileControllerStore, OneProgramAtATimeAndWhatItSavedForTheNext)
{
    QTemporaryDir folder;
    qputenv(StateFolderVariable, folder.path().toLocal8Bit());
    FileControllerStore first, second;
    std::optional<SavedAxis> saved;
    ASSERT_TRUE(first.claim(0, "KVX-340 X", saved));
    EXPECT_FALSE(saved);
    EXPECT_FALSE(second.claim(0, "KVX-340 X", saved));
    EXPECT_TRUE(second.claim(1, "KVX-340 Y", saved)); // another controller
    EXPECT_TRUE(second.claim(0, "Other", saved));     // another product string
    first.release(0, SavedAxis{movingAxis().snapshot(), 42});
    ASSERT_TRUE(second.claim(0, "KVX-340 X", saved));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->savedAt, 42);

    qputenv(StateFolderVariable, "off");
    EXPECT_TRUE(FileControllerStore::folder().empty());
    EXPECT_TRUE(first.claim(0, "KVX-340 X", saved)); // nothing kept, nothing locked
    EXPECT_FALSE(saved);
}

class MemoryStore final : public ControllerStore {
public:
    bool claim(std::size_t, const std::string& product, std::optional<SavedAxis>& saved) override
    {
        claimed.push_back(product);
        saved = kept;
        return !held;
    }
    void release(std::size_t, const SavedAxis& state) override { kept = state; }

    bool held = false;
    std::optional<SavedAxis> kept;
    std::vector<std::string> claimed;
};

TEST(SimBusStore, RestoresTheAxisAdvancedByTheTimeAwayAndSavesItOnClose)
{
    test::ManualClock clock;
    MemoryStore store;
    // Mid-move, saved five seconds ago: the move has ended since.
    store.kept = SavedAxis{movingAxis().snapshot(), wallClockNow() - 5};
    SimBus bus(clock, {}, &store);
    void* handle = nullptr;
    ASSERT_EQ(bus.open(0, &handle), SiStatus::Success);
    EXPECT_EQ(store.claimed, std::vector<std::string>{"KVX-340 X"});
    EXPECT_EQ(bus.model(0).position(), 1500);
    EXPECT_FALSE(bus.model(0).movePending());

    const Frame zero = designFrame(CommandBit::Zero);
    uint32_t written = 0;
    ASSERT_EQ(bus.write(handle, zero.data(), FrameSize, &written), SiStatus::Success);
    clock.seconds += 1;
    ASSERT_EQ(bus.close(handle), SiStatus::Success);
    ASSERT_TRUE(store.kept);
    EXPECT_EQ(store.kept->axis.position, 0);
    EXPECT_NEAR(store.kept->savedAt, wallClockNow(), 5);

    store.held = true; // another program has it
    EXPECT_EQ(bus.open(0, &handle), SiStatus::DeviceBusy);
}

TEST(SimBusStore, ControllersStillOpenAreSavedWhenTheProgramEnds)
{
    test::ManualClock clock;
    MemoryStore store;
    {
        SimBus bus(clock, {}, &store);
        void* handle = nullptr;
        ASSERT_EQ(bus.open(1, &handle), SiStatus::Success);
        const Frame go = designFrame(CommandBit::Go, 300);
        uint32_t written = 0;
        ASSERT_EQ(bus.write(handle, go.data(), FrameSize, &written), SiStatus::Success);
        clock.seconds += 0.1;
    }
    ASSERT_TRUE(store.kept);
    EXPECT_TRUE(store.kept->axis.movePending);
    EXPECT_GT(store.kept->axis.position, 0);
}

} // namespace
