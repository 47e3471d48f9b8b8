#include "fake_platform.h"

#include <cstring>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace orvel::test {

namespace {

uint32_t le32(const std::vector<uint8_t> &bytes, size_t at)
{
    if (bytes.size() < at + 4)
        return 0;
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

FakePlatform &fake() { return FakePlatform::instance(); }

OrvlDevice fakeOpen(const char *name, int shared) { return fake().openDevice(name, shared); }
void fakeClose(OrvlDevice device) { fake().closeDevice(device); }
int fakeIoControl(OrvlDevice device, uint32_t code, void *buffer, uint32_t length)
{
    return fake().ioControl(device, code, buffer, length);
}
void fakeSleep(uint32_t ms) { fake().pauses.push_back(ms); }
int fakeIsWow64()
{
    ++fake().wow64Questions;
    return fake().wow64 ? 1 : 0;
}
int fakeInstall(const char *service, const char *, const char *)
{
    fake().installs.push_back(service);
    return fake().installWorks ? 1 : 0;
}
int fakeStop(const char *service)
{
    fake().removals.push_back(service);
    return fake().stopWorks ? 1 : 0;
}
void fakeDebug(const char *text) { fake().debugLines.push_back(text); }

const OrvlPlatform kFakePlatform = {fakeOpen,   fakeClose,   fakeIoControl, fakeSleep,
                                    fakeIsWow64, fakeInstall, fakeStop,      fakeDebug};

} // namespace

uint32_t Request::sentReg(int index) const { return le32(sent, 2 + 4 * size_t(index)); }
uint32_t Request::returnedReg(int index) const { return le32(returned, 2 + 4 * size_t(index)); }
bool Request::isFirmwareCall() const { return controlCode == kmui::kFirmwareCallCode; }

FakePlatform &FakePlatform::instance()
{
    static FakePlatform platform;
    return platform;
}

void FakePlatform::reset(const kmui::BoardConfig &config)
{
    *this = FakePlatform();
    board_ = std::make_unique<kmui::Board>(config);
}

size_t FakePlatform::countCalls(uint32_t function) const
{
    size_t n = 0;
    for (const Request &r : requests)
        if (r.isFirmwareCall() && r.function() == function)
            ++n;
    return n;
}

size_t FakePlatform::physicalReads() const
{
    size_t n = 0;
    for (const Request &r : requests)
        if (r.controlCode == kmui::kPhysicalReadCode)
            ++n;
    return n;
}

intptr_t FakePlatform::openDevice(const char *name, int shared)
{
    opens.push_back({name, shared});
    const bool works = shared ? sharedOpenWorks : exclusiveOpenWorks;
    return works ? kHandle : ORVL_NO_DEVICE;
}

void FakePlatform::closeDevice(intptr_t device) { closes.push_back(device); }

int FakePlatform::ioControl(intptr_t device, uint32_t code, void *buffer, uint32_t length)
{
    if (device != kHandle) {
        ADD_FAILURE() << "request on a handle the fake never gave out: " << device;
        return 0;
    }
    Request request;
    request.controlCode = code;
    auto *bytes = static_cast<uint8_t *>(buffer);
    request.sent.assign(bytes, bytes + length);
    if (!(swallow && swallow(request)))
        board_->handleRequest(code, bytes, length);
    request.returned.assign(bytes, bytes + length);
    requests.push_back(std::move(request));
    return 1;
}

} // namespace orvel::test

const OrvlPlatform *orvlPlatform(void)
{
    return &orvel::test::kFakePlatform;
}
