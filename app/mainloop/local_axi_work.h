// The main loop's work on boards whose rails are reached over a local AXI link: the
// ZK regulator patch and the start-up voltages once per device, then the rail
// telemetry and step requests on every turn.
#pragma once

// A device is ready when it is ProgrammingDone, or Waiting with a known user code.
// The board qualifies when it has devices, all of them ready and all with a local
// AXI link.
bool VARNLocalAXIBoardQualifies(int board);

// For a qualifying board, each device in order: deviceInitialized counts up to 2; on
// its first qualifying turn a ZK device gets _VARNZKPatch, then every device its
// start-up voltages (-v, -y, -w) through the link; every qualifying turn samples its
// rails. Nothing for a board that does not qualify.
void VARNLocalAXIWork(int board);
