// The agent's handling of one broker message, over a fake controller, window
// and EDID port, against what the command rules say must happen (the reading
// from reference_command.h, the digest computed here): a retained message or
// one over 64 KiB is left alone; otherwise only a text whose "PWD" is the
// digest of the agent's password does anything: "SLOT1" shows and writes the
// record (low eight bits of each time, the enable bits, the day mask's seven
// bits) into slot 1, "SLOT2" into slot 2, "EDID" sends one sequence when the
// port is open. A failed write shows what the controller holds, or the slot as
// unknown when it cannot be read.
//
// Input: one byte of knobs, one byte of password length, the password, then
// the payload, in which "@D" stands for the digest of that password (so that
// accepted commands are found without breaking MD5).
#include "command_handler.h"
#include "reference_command.h"

#include <QCryptographicHash>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Event {
    enum Kind { Show, Write, Unknown, Edid } kind;
    int slot;
    ScheduleRecord record;
};

class Fakes : public ScheduleStore, public ScheduleDisplay, public EdidSender {
public:
    bool available = true, writeWorks = true, readWorks = true, portOpen = true;
    ScheduleRecord held{9, 9, 9, 9, 1, 9};
    std::vector<Event> events;

    bool canWriteSchedule(int slot) const override { return available && (slot == 1 || slot == 2); }
    bool writeSchedule(int slot, const ScheduleRecord &record) override
    {
        events.push_back({Event::Write, slot, record});
        return writeWorks;
    }
    bool readSchedule(int, ScheduleRecord &record) override
    {
        record = held;
        return readWorks;
    }
    void showSchedule(int slot, ScheduleRecord record) override { events.push_back({Event::Show, slot, record}); }
    void showUnknown(int slot) override { events.push_back({Event::Unknown, slot, {}}); }
    bool edidPortOpen() const override { return portOpen; }
    void sendEdidReenumeration() override { events.push_back({Event::Edid, 0, {}}); }
};

std::string digestOf(const std::string &password)
{
    const QByteArray md5 = QCryptographicHash::hash(QByteArray::fromStdString(password), QCryptographicHash::Md5);
    std::string text;
    char part[4];
    for (char byte : md5) {
        std::snprintf(part, sizeof part, "%x", unsigned(uint8_t(byte)));
        text += part;
    }
    return text;
}

bool same(const ScheduleRecord &a, const ScheduleRecord &b)
{
    return a.onHour == b.onHour && a.onMinute == b.onMinute && a.offHour == b.offHour && a.offMinute == b.offMinute
           && a.enableFlags == b.enableFlags && a.activeDays == b.activeDays;
}

bool sameEvents(const std::vector<Event> &a, const std::vector<Event> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].slot != b[i].slot || !same(a[i].record, b[i].record))
            return false;
    return true;
}

// What must happen, from the rules alone.
std::vector<Event> expected(const Fakes &f, const std::string &password, const std::string &digest,
                            const std::string &payload, bool retained)
{
    if (retained || payload.size() > 64 * 1024 || password.empty())
        return {};
    const halden::fuzz::ReferenceReader command(reinterpret_cast<const uint8_t *>(payload.data()), payload.size());
    if (!command.parsed || command.text("PWD") != digest)
        return {};
    const std::string name = command.text("CMD");
    if (name == "EDID")
        return f.portOpen ? std::vector<Event>{{Event::Edid, 0, {}}} : std::vector<Event>{};
    if ((name != "SLOT1" && name != "SLOT2") || !f.available)
        return {};
    const int slot = name == "SLOT1" ? 1 : 2;
    ScheduleRecord r{};
    r.onHour = uint8_t(command.number("PWRON_HOUR") & 0xFF);
    r.onMinute = uint8_t(command.number("PWRON_MINUTE") & 0xFF);
    r.offHour = uint8_t(command.number("PWROFF_HOUR") & 0xFF);
    r.offMinute = uint8_t(command.number("PWROFF_MINUTE") & 0xFF);
    r.enableFlags = uint8_t((command.number("PWRON_ENABLE") != 0 ? 1 : 0) | (command.number("PWROFF_ENABLE") != 0 ? 2 : 0));
    r.activeDays = uint8_t(command.number("ACTIVE_DAY") & 0x7F);
    std::vector<Event> events{{Event::Show, slot, r}, {Event::Write, slot, r}};
    if (!f.writeWorks)
        events.push_back(f.readWorks ? Event{Event::Show, slot, f.held} : Event{Event::Unknown, slot, {}});
    return events;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool silenced = (qInstallMessageHandler(quiet), true);
    (void)silenced;
    if (size < 2)
        return 0;
    Fakes fakes;
    const uint8_t knobs = data[0];
    fakes.writeWorks = knobs & 1;
    fakes.readWorks = knobs & 2;
    fakes.portOpen = knobs & 4;
    const bool retained = knobs & 8;
    fakes.available = !(knobs & 16);
    const size_t passwordLength = std::min<size_t>(data[1] % 17, size - 2);
    const std::string password(reinterpret_cast<const char *>(data + 2), passwordLength);
    std::string payload(reinterpret_cast<const char *>(data + 2 + passwordLength), size - 2 - passwordLength);
    // The agent reads its password as UTF-8 text (an ill-formed byte becomes
    // U+FFFD); the digest is of that text's UTF-8.
    const std::string digest = digestOf(QString::fromUtf8(password.data(), int(password.size())).toStdString());
    for (size_t at = payload.find("@D"); at != std::string::npos; at = payload.find("@D", at + digest.size()))
        payload.replace(at, 2, digest);

    CommandHandler handler(QString::fromUtf8(password.data(), int(password.size())), fakes, fakes, fakes);
    handler.receive(QByteArray::fromStdString(payload), QStringLiteral("site/board"), retained);
    if (!sameEvents(fakes.events, expected(fakes, password, digest, payload, retained))) {
        std::fprintf(stderr, "the agent did not do what the command rules say (%zu events)\n", fakes.events.size());
        std::abort();
    }
    return 0;
}
