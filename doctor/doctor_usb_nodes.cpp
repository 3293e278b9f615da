#include "doctor_usb_nodes.h"

#include "device_ids.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <grp.h>
#include <linux/usbdevice_fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace kvx::ctl {
namespace {

constexpr char RuleFile[] = "70-kvx340.rules";
// The kernel's name for an interface claimed through usbfs: another program
// (libusb, or any program speaking usbfs) holds it.
constexpr char UserSpaceDriver[] = "usbfs";
constexpr char ReloadRules[] = "sudo udevadm control --reload-rules, then unplug and replug the controller";

struct UsbDevice {
    QString name; // the kernel's: "1-2"
    QString node; // /dev/bus/usb/001/002
    usb::DeviceId id;
    QString serial;
    int bus = 0;
};

QString attribute(const QString& folder, const char* name)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

QString hexId(uint16_t id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')); }
QString idText(usb::DeviceId id) { return hexId(id.vendor) + QLatin1Char(':') + hexId(id.product); }

QString idsText(const std::vector<usb::DeviceId>& ids)
{
    QStringList texts;
    for (const usb::DeviceId& id : ids)
        texts << idText(id);
    return texts.join(QLatin1Char(','));
}

std::vector<UsbDevice> findDevices(const UsbPaths& paths, const std::vector<usb::DeviceId>& ids)
{
    std::vector<UsbDevice> found;
    const QDir devices(paths.sysfs + QStringLiteral("/bus/usb/devices"));
    for (const QString& name : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (name.contains(QLatin1Char(':'))) // an interface, not a device
            continue;
        const QString folder = devices.filePath(name);
        const usb::DeviceId id{attribute(folder, "idVendor").toUShort(nullptr, 16),
                               attribute(folder, "idProduct").toUShort(nullptr, 16)};
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            continue;
        const int bus = attribute(folder, "busnum").toInt();
        const int number = attribute(folder, "devnum").toInt();
        found.push_back({name,
                         QStringLiteral("%1/bus/usb/%2/%3")
                             .arg(paths.dev)
                             .arg(bus, 3, 10, QLatin1Char('0'))
                             .arg(number, 3, 10, QLatin1Char('0')),
                         id, attribute(folder, "serial"), bus});
    }
    // The library's order: by bus, then by port path.
    std::stable_sort(found.begin(), found.end(), [](const UsbDevice& a, const UsbDevice& b) { return a.bus < b.bus; });
    return found;
}

// The ids the library looks for, read as it reads them but without its
// warning: the library gives that itself when doctor loads it, and doctor
// reports a malformed list in its own line.
struct ListedIds {
    const char* listed = std::getenv(usb::DeviceIdsVariable);
    std::optional<std::vector<usb::DeviceId>> parsed = listed ? usb::parseDeviceIds(listed) : std::nullopt;
    std::vector<usb::DeviceId> ids = parsed.value_or(std::vector<usb::DeviceId>{usb::FactoryDeviceId});
};

Finding devicesFinding(const std::vector<UsbDevice>& devices, const ListedIds& wanted)
{
    const char* variable = usb::DeviceIdsVariable;
    const char* listed = wanted.listed;
    const std::vector<usb::DeviceId>& ids = wanted.ids;
    QString source = listed ? QStringLiteral("%1 from %2").arg(idsText(ids), QLatin1String(variable))
                            : QStringLiteral("the factory ids %1").arg(idsText(ids));
    if (listed && !wanted.parsed)
        return {QStringLiteral("devices"), Verdict::Problem,
                QStringLiteral("%1=\"%2\" is malformed, so only %3 is looked for")
                    .arg(QLatin1String(variable), QString::fromLocal8Bit(listed), idsText(ids)),
                QStringLiteral("write it as pairs of hexadecimal ids, e.g. %1=10c4:ea61,10c4:8a5e")
                    .arg(QLatin1String(variable))};
    if (devices.empty())
        return {QStringLiteral("devices"), Verdict::Problem, QStringLiteral("no USB device with %1").arg(source),
                QStringLiteral("plug the controller in and check its cable and power; if lsusb shows it with ids "
                               "of its own, name them in %1").arg(QLatin1String(variable))};
    QStringList names;
    for (const UsbDevice& device : devices)
        names << QStringLiteral("%1 %2 \"%3\" at %4").arg(device.name, idText(device.id), device.serial, device.node);
    return {QStringLiteral("devices"), Verdict::Ok,
            QStringLiteral("%1 with %2: %3").arg(devices.size()).arg(source, names.join(QStringLiteral(", "))), {}};
}

bool ruleNamesProduct(const QString& ruleFile, uint16_t product)
{
    QFile file(ruleFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString wanted = QStringLiteral("ATTR{idProduct}==\"%1\"").arg(hexId(product));
    return QString::fromUtf8(file.readAll()).contains(wanted, Qt::CaseInsensitive);
}

Finding udevRuleFinding(const UsbPaths& paths, const std::vector<UsbDevice>& devices)
{
    // The files udev takes: each name once, from the first folder that has
    // it (where /lib is /usr/lib, the second time is the same file). A link
    // to /dev/null there masks the name, and is taken as an empty file.
    QStringList ruleFiles;
    QSet<QString> names;
    QString installed;
    for (const QString& dir : paths.udevRuleDirs) {
        for (const QFileInfo& rule : QDir(dir).entryInfoList({QStringLiteral("*.rules")}, QDir::Files | QDir::System)) {
            if (names.contains(rule.fileName()))
                continue;
            names.insert(rule.fileName());
            ruleFiles << rule.filePath();
            if (rule.fileName() == QLatin1String(RuleFile))
                installed = rule.filePath();
        }
    }
    if (installed.isEmpty())
        return {QStringLiteral("udev rule"), Verdict::Problem,
                QStringLiteral("%1 is in none of %2").arg(QLatin1String(RuleFile), paths.udevRuleDirs.join(QStringLiteral(", "))),
                QStringLiteral("reinstall the kvx340 package, or copy its %1 to /etc/udev/rules.d; then %2")
                    .arg(QLatin1String(RuleFile), QLatin1String(ReloadRules))};
    // The package's rule names the factory ids only.
    for (const UsbDevice& device : devices) {
        const bool named = std::any_of(ruleFiles.begin(), ruleFiles.end(), [&](const QString& file) {
            return ruleNamesProduct(file, device.id.product);
        });
        if (!named)
            return {QStringLiteral("udev rule"), Verdict::Problem,
                    QStringLiteral("installed as %1, but no rule names %2's product id %3")
                        .arg(installed, device.name, hexId(device.id.product)),
                    QStringLiteral("copy %1 to /etc/udev/rules.d with ATTR{idProduct}==\"%2\"; then %3")
                        .arg(QLatin1String(RuleFile), hexId(device.id.product), QLatin1String(ReloadRules))};
    }
    return {QStringLiteral("udev rule"), Verdict::Ok,
            QStringLiteral("installed as %1").arg(installed), {}};
}

QString userName(uid_t uid)
{
    const passwd* entry = getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid)
{
    const group* entry = getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

QString permissionBits(unsigned bits)
{
    return QString(bits & 4 ? 'r' : '-') + QChar(bits & 2 ? 'w' : '-') + QChar(bits & 1 ? 'x' : '-');
}

// The named users and groups of the node's access list, as getfacl shows
// them: udev's uaccess tag grants the user at the seat this way. Read from
// the extended attribute in the kernel's own layout: a version word, then
// entries of tag, permissions and id.
QStringList aclEntries(const QString& node)
{
    unsigned char buffer[1024];
    const ssize_t size = getxattr(QFile::encodeName(node).constData(), "system.posix_acl_access", buffer, sizeof buffer);
    QStringList entries;
    constexpr uint16_t NamedUser = 0x02, NamedGroup = 0x08;
    for (ssize_t at = 4; size > 0 && at + 8 <= size; at += 8) {
        uint16_t tag, bits;
        uint32_t id;
        std::memcpy(&tag, buffer + at, 2);
        std::memcpy(&bits, buffer + at + 2, 2);
        std::memcpy(&id, buffer + at + 4, 4);
        if (tag == NamedUser)
            entries << QStringLiteral("user:%1:%2").arg(userName(id), permissionBits(bits));
        else if (tag == NamedGroup)
            entries << QStringLiteral("group:%1:%2").arg(groupName(id), permissionBits(bits));
    }
    return entries;
}

// "crw-rw-r--+ root:plugdev, ACL user:ann:rw-", as ls -l and getfacl show it.
QString nodeDescription(const QString& node, const struct stat& info)
{
    const QStringList acl = aclEntries(node);
    QString mode = S_ISCHR(info.st_mode) ? QStringLiteral("c") : QStringLiteral("-");
    for (int shift : {6, 3, 0})
        mode += permissionBits((info.st_mode >> shift) & 7);
    return QStringLiteral("%1%2 %3:%4, %5")
        .arg(mode, acl.isEmpty() ? QString() : QStringLiteral("+"), userName(info.st_uid), groupName(info.st_gid),
             acl.isEmpty() ? QStringLiteral("no ACL") : QStringLiteral("ACL ") + acl.join(QLatin1Char(' ')));
}

// Opens the node as the library will, read and write, and keeps it open
// for the driver query. -1 with errno when it cannot.
class OpenNode {
public:
    explicit OpenNode(const QString& node) : fd_(::open(QFile::encodeName(node).constData(), O_RDWR | O_CLOEXEC))
    {
        error_ = errno;
    }
    ~OpenNode()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenNode(const OpenNode&) = delete;
    OpenNode& operator=(const OpenNode&) = delete;
    int fd() const { return fd_; }
    int error() const { return error_; }

private:
    int fd_;
    int error_;
};

Finding permissionFinding(const UsbDevice& device, const OpenNode& opened)
{
    struct stat info {};
    if (::stat(QFile::encodeName(device.node).constData(), &info) != 0)
        return {QStringLiteral("permission"), Verdict::Problem,
                QStringLiteral("%1: %2 is missing").arg(device.name, device.node),
                QStringLiteral("check that udev is running; unplug and replug the controller")};
    const QString shown = QStringLiteral("%1: %2 %3").arg(device.name, device.node, nodeDescription(device.node, info));
    const QString user = userName(geteuid());
    if (opened.fd() >= 0)
        return {QStringLiteral("permission"), Verdict::Ok, QStringLiteral("%1: %2 may open it").arg(shown, user), {}};
    if (opened.error() != EACCES && opened.error() != EPERM)
        return {QStringLiteral("permission"), Verdict::Problem,
                QStringLiteral("%1: it cannot be opened (%2)").arg(shown, QString::fromLocal8Bit(std::strerror(opened.error()))),
                QStringLiteral("unplug and replug the controller")};
    return {QStringLiteral("permission"), Verdict::Problem, QStringLiteral("%1: %2 may not open it").arg(shown, user),
            QStringLiteral("with the udev rule installed, log in at the machine's own seat (the rule grants that "
                           "user access) and replug the controller; for remote users add a rule with GROUP and "
                           "MODE=\"0660\" in /etc/udev/rules.d")};
}

// The driver bound to each of the device's interfaces: from sysfs, where
// the kernel shows it to anyone; else asked of the open node (interface 0,
// the controller's only one). Empty when none; nothing when unknown.
std::optional<QString> boundDriver(const UsbPaths& paths, const UsbDevice& device, const OpenNode& opened)
{
    const QDir devices(paths.sysfs + QStringLiteral("/bus/usb/devices"));
    const QStringList interfaces =
        devices.entryList({device.name + QStringLiteral(":*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    if (!interfaces.isEmpty()) {
        for (const QString& interface : interfaces) {
            const QFileInfo driver(devices.filePath(interface) + QStringLiteral("/driver"));
            if (driver.isSymLink())
                return QFileInfo(driver.symLinkTarget()).fileName();
        }
        return QString();
    }
    if (opened.fd() < 0)
        return std::nullopt;
    usbdevfs_getdriver query{};
    query.interface = 0;
    if (::ioctl(opened.fd(), USBDEVFS_GETDRIVER, &query) == 0)
        return QString::fromLocal8Bit(query.driver);
    return errno == ENODATA ? std::optional<QString>(QString()) : std::nullopt;
}

Finding driverFinding(const UsbDevice& device, const std::optional<QString>& driver)
{
    if (!driver)
        return {QStringLiteral("driver"), Verdict::Skipped,
                QStringLiteral("%1: not known, as its node cannot be opened").arg(device.name), {}};
    if (driver->isEmpty())
        return {QStringLiteral("driver"), Verdict::Ok, QStringLiteral("%1: no kernel driver bound").arg(device.name), {}};
    if (*driver == QLatin1String(UserSpaceDriver))
        return {QStringLiteral("driver"), Verdict::Problem,
                QStringLiteral("%1: its interface is claimed by another program (usbfs)").arg(device.name),
                QStringLiteral("end the program that uses the controller (kvx340, kvx340ctl or another); "
                               "fuser -v %1 names it").arg(device.node)};
    // A serial driver takes the family's ids; the library borrows the interface.
    return {QStringLiteral("driver"), Verdict::Ok,
            QStringLiteral("%1: %2 is bound; the USB library detaches it while the controller is open and "
                           "gives it back on the close").arg(device.name, *driver), {}};
}

} // namespace

UsbNodeReport checkUsbNodes(const UsbPaths& paths)
{
    UsbNodeReport report;
    const ListedIds wanted;
    const std::vector<UsbDevice> devices = findDevices(paths, wanted.ids);
    report.findings.push_back(devicesFinding(devices, wanted));
    report.findings.push_back(udevRuleFinding(paths, devices));
    for (const UsbDevice& device : devices) {
        const OpenNode opened(device.node);
        report.findings.push_back(permissionFinding(device, opened));
        const std::optional<QString> driver = boundDriver(paths, device, opened);
        report.findings.push_back(driverFinding(device, driver));
        if (driver == QLatin1String(UserSpaceDriver))
            report.heldElsewhere << device.serial;
    }
    return report;
}

} // namespace kvx::ctl
