#pragma once
// The few operating-system steps of the agent, kept out of the Qt code so that
// each platform supplies one small table of plain functions.

namespace agent_platform {

// Marker that only one agent runs per user session.
struct InstanceMarker;

struct Table {
    // Returns true when another agent already holds the marker.
    bool (*otherInstanceRunning)(const char *name);
    // Takes the marker for this process; null when it could not be made.
    InstanceMarker *(*createInstanceMarker)(const char *name);
    void (*releaseInstanceMarker)(InstanceMarker *marker);

    // Loads the controller library ("ORVEL.DLL" / libORVEL.so); null when absent.
    void *(*loadOrvelLibrary)();
    // Looks up one entry point by name; null when the library lacks it.
    void *(*resolve)(void *library, const char *name);
};

const Table &table();

} // namespace agent_platform
