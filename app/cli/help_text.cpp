#include "app/cli/help_text.h"

#include <cstring>

#include "app/log/varn_log.h"

bool VARNWantsHelp(int argc, char* argv[]) {
  if (argc < 2 || argv[1] == nullptr) return true;
  return std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0;
}

// -d/-D (CoU boards) is accepted by the parser but deliberately not listed.
static const char* const kHelpLines[] = {
    "V2.1.4 Arguments:\n",
    "\n",
    " -U/-u              Use FTDI UART instead of JTAG-UART for boards connected with USB\n",
    " -L/-l              List the available USB connected boards\n",
    " -C/-c <ip,..>      One or more CoE boards to manage, separated by IP\n",
    " -A/-a              Automatically manage all available USB connected boards\n",
    " -S/-s <serial,..>  Manage boards whose USB serials partially match the provided list\n",
    "\n",
    " -b/-B <path,..>    List of one or more bitstreams to load onto managed boards\n",
    "\n",
    "                    If multiple board types are detected, the appropriate bitstream\n",
    "                    for each chip type is selected. If multiple bitstreams are\n",
    "                    provided for the same chip type, they are treated as partial\n",
    "                    bitstreams and loaded in the order provided\n",
    "\n",
    " -m/-M              Enabled the bridge-management API\n",
    " -n/-N <port>       Port to use for the bridge-management API\n",
    "\n",
    " -p/-P <port>       Port to start assigning TCP-UARTs with\n",
    "\n",
    " -v/-V <volt:..,..> VCCINT Voltage to set for the specified board (comma separated)\n",
    "                    if colon(:) separated - unique voltages may be provided for\n",
    "                    individual devices on each board.\n",
    " -y/-Y <volt:..,..> VCCBRAM\n",
    " -w/-W <volt:..,..> VCCHBM\n",
    "\n",
    " -q/-Q              Quiet, no telemetry output\n",
    " -k/-K <seconds>    Telemetry update interval\n",
    " -g/-G              Enable CLI GUI\n",
    " -x/-X              Enable multi-client AXI-UART bridging\n",
    " -f/-F <logFile>    Write a copy of the output to a log file\n",
    "\n",
    " -t/-T              Disable local-axi I2C Telemetry\n",
    "\n",
    " -j/-J <port>       Enable XVC\n",
    " -r/-R <latency>    Change FTDI JTAG Bus Latency (Default 4)\n",
    " -o/-O <latency>    Change FTDI UART Bus Latency (Default 4)\n",
};

void VARNPrintHelp() {
  for (const char* line : kHelpLines) VARNLog("%s", line);
}
