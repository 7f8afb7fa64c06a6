// One thread per registered board. After its start-up (regulator fixes, start-up
// voltages, load requests) it runs for the rest of the process: it pumps each FPGA's
// serial channel to and from the TCP client of the FPGA's port (or the AXI bridge's
// socket pair) and every 100 ms samples telemetry and serves bitstream loads.
#pragma once

// Thread entry; `boardNumberPointer` points at the board's entry in bid. Never returns.
void boardthread(int* boardNumberPointer);

// Starts boardthread(boardNumberPointer) on a new, detached thread and records its id
// in boardThreads.
void VARNStartBoardThread(int* boardNumberPointer);
