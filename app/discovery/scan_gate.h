// Board threads start while the scan is still running: the second pass of the scan may
// yet attach a companion UART to a board whose thread already exists. A board thread
// therefore waits for the scan to end before it first touches its board.
#pragma once

// Called by the scan at its start and at its end.
void VARNScanGateClose();
void VARNScanGateOpen();

// Returns once no scan is running (at once when none ever ran).
void VARNScanGateWait();
