// The stack of the kit's Apache and MySQL, owning both drivers.
#pragma once

#include "ApacheServer.h"
#include "InstallDir.h"
#include "MySqlServer.h"
#include "Stack.h"

// MySQL first: it takes the first slot of serverTable, and the monitor
// visits it first. Both in the kit of the install directory.
struct KitDrivers {
    KitDrivers() : mysqlDriver(GetInstallDir()), apacheDriver(GetInstallDir()) {}
    MySqlServer mysqlDriver;
    ApacheServer apacheDriver;
};

class KitStack : public KitDrivers, public Stack {
public:
    // The drivers exist before the stack that works on them.
    explicit KitStack(StackView& view) : Stack(apacheDriver, mysqlDriver, view)
    {
        setPrograms(apacheDriver.executable(), mysqlDriver.executable());
    }
};
