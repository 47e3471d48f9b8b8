// Tamsel, the client agent: one per session, living in the system tray.
#include "mainform.h"
#include "platform/agent_platform.h"

#include <QApplication>

namespace {
const char instanceName[] = "972AC980-E833-4012-81CC-DACA54759B37";
}

int main(int argc, char *argv[])
{
    const agent_platform::Table &os = agent_platform::table();
    if (os.otherInstanceRunning(instanceName))
        return -1;
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(instanceName);

    int result = 0;
    {
        QApplication app(argc, argv);
        {
            MainForm form;
            result = app.exec();
        }
    }
    os.releaseInstanceMarker(marker);
    return result;
}
