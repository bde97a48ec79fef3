#include <iphlpapi.h>
