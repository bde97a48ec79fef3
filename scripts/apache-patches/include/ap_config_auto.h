/* httpd's configure writes this file; a Windows build made with CMake has
 * nothing to put in it but the build date Debian's sources read from it. */
#ifndef BUILD_DATETIME
#define BUILD_DATETIME __DATE__ " " __TIME__
#endif
