// The manager's preferences: loaded from the settings file (or the older
// registry key) when constructed, written back when destroyed.
#pragma once

// The paths built from the install directory (GetInstallDir), filled when
// the settings are constructed.
const char* SettingsPath();  // "<install dir>Tarvane.ini"
const char* LogPath();       // "<install dir>Tarvane.log"

// Longest MySQL argument text, in characters.
const int MaxMySqlArguments = 254;

class ManagerSettings {
public:
    ManagerSettings();
    virtual ~ManagerSettings();

    bool AutoStartServers;   // start both servers when the window opens
    bool AutoStartTarvane;   // start the manager with Windows
    bool AutoReloadConf;     // restart a server whose configuration changed
    char MySqlArguments[MaxMySqlArguments + 1];
    bool ExpertMode;         // configuration-file submenu in the tray menu
    bool SslMode;            // never stored
    bool CheckVersion;       // version check after start-up
    bool StartAsServices;    // NT family only
    bool ShowAlways;         // window shown at start-up and kept on top
    int ExpandPos;           // window size slider position, 0 to 2

    // Writes the settings file, clears the older registry key and writes the
    // start-with-Windows entry; the destructor does the same. For an end of
    // the session, after which the process may not get as far as that.
    void SaveSettings();

    // Where the start-with-Windows entry is.
    enum RunPlace { RunNowhere, RunMachine, RunUser };
    // Writes the start-with-Windows entry as AutoStartTarvane asks: in the
    // machine's Run key, or where that cannot be written (a user without
    // administrator rights) in the user's own; unticked, it goes from
    // both. AutoStartTarvane then follows what was written (false when
    // neither key took it). Returns where the entry is now; runError()
    // tells why a write or a removal failed (0: none failed).
    RunPlace SaveRunEntry();
    unsigned long runError() const { return runError_; }
    // Why the settings file cannot be written (checked when the settings
    // are loaded, and by each save); 0 when it can.
    unsigned long writeError() const { return writeError_; }

private:
    ManagerSettings(const ManagerSettings&) = delete;
    ManagerSettings& operator=(const ManagerSettings&) = delete;

    void LoadSettings();
    bool LoadFromFile();
    void LoadFromFallbackKey();
    // Whether the settings file can be written, without changing it.
    void ProbeSettingsFile();

    unsigned long runError_;
    unsigned long writeError_;
};
