// Tamsel, the client agent: one per session, living in the system tray.
#include "mainform.h"
#include "platform/agent_platform.h"

#include <QApplication>
#include <memory>

namespace {
const char instanceName[] = "972AC980-E833-4012-81CC-DACA54759B37";
}

int main(int argc, char *argv[])
{
    const agent_platform::Table &os = agent_platform::table();
    if (os.otherInstanceRunning(instanceName))
        return -1;
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(instanceName);

    QApplication app(argc, argv);
    auto form = std::make_unique<MainForm>();
    const int result = app.exec();

    os.releaseInstanceMarker(marker);
    form.reset();
    return result;
}
