// Builds a driver in a process of its own, so that a test can run it under
// another Windows version, and writes what it saw to a report:
//   servers_familyprobe REPORT choose|stop KIT
// "choose" reports the MySQL build chosen; "stop" also launches it, waits
// for its shutdown event and stops it through the driver.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "MySqlServer.h"
#include "ServiceControl.h"
#include "System.h"
#include "../../testkit/record.h"

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    FILE* report = fopen(argv[1], "wb");
    if (!report)
        return 3;
    ServiceControl::acquire();
    int result = 0;
    {
        MySqlServer mysql(argv[3]);
        fprintf(report, "nt=%d\nexecutable=%s\n", IsNtFamily() ? 1 : 0, mysql.executable());
        if (!strcmp(argv[2], "stop")) {
            fprintf(report, "start=%lu\n", mysql.startProcess());
            HANDLE event = nullptr;
            for (int i = 0; i < 200 && !event; ++i) {
                event = OpenEventA(SYNCHRONIZE, FALSE, kitrecord::kMysqldPortEvent);
                if (!event)
                    Sleep(50);
            }
            if (event) {
                CloseHandle(event);
                fprintf(report, "stop=%lu\n", mysql.stopProcess());
            } else {
                result = 4;
            }
        }
    }
    ServiceControl::release();
    fclose(report);
    return result;
}
