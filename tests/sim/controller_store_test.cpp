// A simulated controller kept between programs: what is saved of it, the
// lock that keeps it to one program, and the axis restored on the next open.
#include "controller_store.h"
#include "design_frame.h"
#include "manual_clock.h"
#include "sim_bus.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    // A number that reads but that the axis could never have: it would
    // leave the axis busy for good.
    const auto valued = [&](const std::string& key, const std::string& value) {
        std::string changed = text;
        const auto start = changed.find(key + " ") + key.size() + 1;
        changed.replace(start, changed.find('\n', start) - start, value);
        return changed;
    };
    EXPECT_TRUE(decodeSavedAxis(valued("travel", "-150000"))); // on the switch
    for (const std::string& broken :
         {std::string(), replaced("kvx340sim-state 1", "kvx340sim-state 2"), replaced("position ", "position x"),
          replaced("jogging 0", "jogging 2"), replaced("command ", "command 00"),
          text.substr(0, text.find("stopping")), text + "extra 1\n", valued("velocity", "nan"),
          valued("velocity", "inf"), valued("velocity", "1e6"), valued("position", "-inf"),
          valued("position", "1e12"), valued("travel", "150001"), valued("saved", "nan"),
          valued("moveTarget", "9000000000000000000")})
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

    // A shorter state saved over a longer one leaves nothing of it behind.
    second.release(0, SavedAxis{movingAxis().snapshot(), 1796709114.1862714});
    ASSERT_TRUE(first.claim(0, "KVX-340 X", saved));
    first.release(0, SavedAxis{AxisModel().snapshot(), 7});
    ASSERT_TRUE(second.claim(0, "KVX-340 X", saved));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->savedAt, 7);

    // Kept while held, the hold kept too: a program that then ends without
    // saving (killed) leaves it for the next. Not held, nothing is written.
    second.release(0, SavedAxis{AxisModel().snapshot(), 7});
    {
        FileControllerStore killed;
        ASSERT_TRUE(killed.claim(0, "KVX-340 X", saved));
        killed.keep(0, SavedAxis{AxisModel().snapshot(), 43});
        killed.keep(2, SavedAxis{AxisModel().snapshot(), 44});
        EXPECT_FALSE(first.claim(0, "KVX-340 X", saved));
    }
    ASSERT_TRUE(first.claim(0, "KVX-340 X", saved) && saved);
    EXPECT_EQ(saved->savedAt, 43);
    ASSERT_TRUE(first.claim(2, "KVX-340 Z", saved));
    EXPECT_FALSE(saved);

    qputenv(StateFolderVariable, "off");
    EXPECT_TRUE(FileControllerStore::folder().empty());
    EXPECT_TRUE(first.claim(0, "KVX-340 X", saved)); // nothing kept, nothing locked
    EXPECT_FALSE(saved);
}

#ifndef Q_OS_WIN
// Keeps the controller in the folder the store is pointed at: the state
// file's name, the only file there.
QString keepOneIn(const QString& folder)
{
    qputenv(StateFolderVariable, folder.toLocal8Bit());
    FileControllerStore store;
    std::optional<SavedAxis> saved;
    if (!store.claim(0, "KVX-340 X", saved))
        return {};
    store.release(0, SavedAxis{movingAxis().snapshot(), wallClockNow()});
    const QStringList files = QDir(folder).entryList(QDir::Files);
    return files.size() == 1 ? folder + "/" + files.first() : QString();
}

// Where another user could have planted a file, or made ours a link to one
// of theirs, nothing is kept: the controller is fresh, nothing is written,
// and the program says why once. (Owners, modes and links are POSIX's; on
// Windows the state lives in the user's own temporary folder.)
TEST(FileControllerStore, KeepsNothingWhereOthersCouldPlantFilesAndSaysWhyOnce)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir elsewhere, linked, hardLinked, shared, groupShared, others;
    const QString precious = elsewhere.path() + "/precious";
    QFile(precious).open(QIODevice::WriteOnly);

    const QString link = keepOneIn(linked.path());
    ASSERT_FALSE(link.isEmpty());
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(precious, link));

    const QString twice = keepOneIn(hardLinked.path());
    ASSERT_EQ(::link(twice.toLocal8Bit().constData(), (hardLinked.path() + "/other").toLocal8Bit().constData()), 0);

    // Each of the two write bits alone is enough to refuse the folder.
    ASSERT_FALSE(keepOneIn(shared.path()).isEmpty());
    ::chmod(shared.path().toLocal8Bit().constData(), 0703);
    ASSERT_FALSE(keepOneIn(groupShared.path()).isEmpty());
    ::chmod(groupShared.path().toLocal8Bit().constData(), 0770);

    // Root owns "/"; run as root, a folder given to nobody.
    QString othersFolder = "/";
    if (::geteuid() == 0) {
        ASSERT_FALSE(keepOneIn(others.path()).isEmpty());
        ASSERT_EQ(::chown(others.path().toLocal8Bit().constData(), 65534, 65534), 0);
        othersFolder = others.path();
    }

    const struct {
        QByteArray folder; // KVX340_SIM_STATE_DIR, or unset
        std::string said;  // the reason given, or nothing
    } cases[] = {
        {linked.path().toLocal8Bit(), " is a symbolic link"},
        {hardLinked.path().toLocal8Bit(), " is not a regular file of this user's"},
        {shared.path().toLocal8Bit(), "other users may write to the state folder " + shared.path().toStdString()},
        {groupShared.path().toLocal8Bit(),
         "other users may write to the state folder " + groupShared.path().toStdString()},
        {othersFolder.toLocal8Bit(), "the state folder " + othersFolder.toStdString() + " belongs to another user"},
        {"/nonexistent-kvx340/state", "cannot use the state folder /nonexistent-kvx340/state"},
        {{}, "$XDG_RUNTIME_DIR is not set"},
        {"off", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        if (c.folder.isNull())
            qunsetenv(StateFolderVariable);
        else
            qputenv(StateFolderVariable, c.folder);
        qunsetenv("XDG_RUNTIME_DIR");
        FileControllerStore store;
        std::optional<SavedAxis> saved;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(store.claim(0, "KVX-340 X", saved));
        EXPECT_FALSE(saved);
        EXPECT_TRUE(store.claim(0, "KVX-340 X", saved)); // a second program would be fresh too
        store.release(0, SavedAxis{movingAxis().snapshot(), 1});
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.said.empty()) {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_EQ(err.rfind("kvx340sim: ", 0), 0u) << err;
            EXPECT_NE(err.find(c.said), std::string::npos) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err; // once, on one line
        }
    }
    QFile target(precious);
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_EQ(target.readAll(), QByteArray()); // not written through the link
    ::chmod(shared.path().toLocal8Bit().constData(), 0700);
    ::chmod(groupShared.path().toLocal8Bit().constData(), 0700);
    if (!runtime.isNull())
        qputenv("XDG_RUNTIME_DIR", runtime);
}
#endif

class MemoryStore final : public ControllerStore {
public:
    bool claim(std::size_t, const std::string& product, std::optional<SavedAxis>& saved) override
    {
        claimed.push_back(product);
        saved = kept;
        return !held;
    }
    void keep(std::size_t, const SavedAxis& state) override
    {
        kept = state;
        ++keeps;
    }
    void release(std::size_t, const SavedAxis& state) override { kept = state; }

    bool held = false;
    std::optional<SavedAxis> kept;
    std::vector<std::string> claimed;
    int keeps = 0;
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

// The time away is the wall clock's; from the reopening on, the bus's own
// clock runs the axis, however far that clock has come.
TEST(SimBusStore, ARestoredMoveRunsOnFromItsReopening)
{
    test::ManualClock clock;
    clock.seconds = 1000;
    AxisModel longMove;
    longMove.apply(kvx::sim::test::designCommand(CommandBit::Go, 100000)); // about 56 s
    longMove.advance(0.5);
    MemoryStore store;
    store.kept = SavedAxis{longMove.snapshot(), wallClockNow()};
    SimBus bus(clock, {}, &store);
    void* handle = nullptr;
    ASSERT_EQ(bus.open(0, &handle), SiStatus::Success);
    const Frame go = designFrame(CommandBit::Go, 100000);
    uint32_t written = 0;
    ASSERT_EQ(bus.write(handle, go.data(), FrameSize, &written), SiStatus::Success);
    EXPECT_TRUE(bus.model(0).movePending());
    EXPECT_LT(bus.model(0).position(), 50000);
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

// Kept at every change of motion, so that a program killed outright leaves
// the controller carrying on with its last command (a jog jogs on); frames
// that only repeat the last, every 30 ms, write nothing.
TEST(SimBusStore, KeepsTheAxisAtEveryChangeOfMotionWhileHeld)
{
    using test::designCommand;
    CommandFrame toggled = designCommand(CommandBit::Go, 1500), broken = toggled;
    CommandFrame jog = designCommand(CommandBit::JogMode), faster = jog, zero = jog;
    toggled.CommandByte |= CommandBit::Toggle;
    broken.OptionsByte = 0;
    jog.JogWord = 35767;
    faster.JogWord = zero.JogWord = 42767; // full speed, 1800 steps/s
    zero.CommandByte |= CommandBit::Zero;
    const std::pair<CommandFrame, bool> frames[] = {
        {designCommand(), true}, {designCommand(), false}, {designCommand(CommandBit::Go, 1500), true},
        {toggled, false}, {broken, false}, {designCommand(CommandBit::Stop), true}, {jog, true}, {jog, false},
        {faster, true}, {faster, false}, {zero, true}, {zero, true}, // held while jogging: a new origin each time
    };
    test::ManualClock clock;
    MemoryStore store;
    SimBus bus(clock, {}, &store);
    void* handle = nullptr;
    ASSERT_EQ(bus.open(0, &handle), SiStatus::Success);
    for (std::size_t i = 0; i < std::size(frames); ++i) {
        const int keeps = store.keeps;
        clock.seconds += 0.03;
        const Frame bytes = encodeCommandFrame(frames[i].first);
        uint32_t written = 0;
        ASSERT_EQ(bus.write(handle, bytes.data(), FrameSize, &written), SiStatus::Success);
        EXPECT_EQ(store.keeps - keeps, frames[i].second ? 1 : 0) << "frame " << i;
    }
    // The next program, two seconds on, finds the jog under way.
    store.kept->savedAt -= 2;
    SimBus next(clock, {}, &store);
    ASSERT_EQ(next.open(0, &handle), SiStatus::Success);
    EXPECT_TRUE(next.model(0).jogging());
    EXPECT_GT(next.model(0).position(), 1800 * 1.5);
}

} // namespace
