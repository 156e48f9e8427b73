/* Opens a reader, prints the library's version and the reader's firmware
 * version, closes the reader.
 *
 *   cmake -S . -B build -DCMAKE_PREFIX_PATH=<prefix> && cmake --build build
 *   build/kpdev-version [PORTTEXT [DEVICETYPE]]     default COM1:9600:N:8:1, type 1
 */
#include <kp_dev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  const char* port = argc > 1 ? argv[1] : "COM1:9600:N:8:1";
  int type = argc > 2 ? atoi(argv[2]) : 1;
  char library[33 + 1] = {0};
  char version[256] = {0};
  int handle = 0;
  int r;

  KP_DEV_GetDllVersion(library);
  /* The text after the version number is GBK; only the number is printed. */
  library[strcspn(library, " ")] = '\0';
  printf("library  %s\n", library);

  r = KP_DEV_OpenDevice(type, port, &handle);
  if (r != 0) {
    fprintf(stderr, "open %s failed: %d\n", port, r);
    return 2;
  }
  r = KP_DEV_GetDeviceVersion(handle, version);
  KP_DEV_CloseDevice(handle);
  if (r != 0) {
    fprintf(stderr, "version failed: %d\n", r);
    return 1;
  }
  /* The version arrives as hexadecimal text of the firmware's bytes. */
  printf("version  ");
  for (size_t i = 0; version[i] != '\0' && version[i + 1] != '\0'; i += 2) {
    unsigned int byte = 0;
    sscanf(version + i, "%2X", &byte);
    putchar(byte >= 0x20 && byte < 0x7F ? (int)byte : '.');
  }
  printf("  [%s]\n", version);
  return 0;
}
