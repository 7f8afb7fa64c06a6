// Telemetry collection and the console report. Two collectors fill the registry's
// telemetry tables: each board thread samples over JTAG every 100 ms, and the main
// loop samples the rails of devices that have a local AXI link. Both also serve the
// operator's 10 mV voltage-step requests.
#pragma once

// Board thread, every 100 ms: SLR temperatures and VCCINT of every device of the
// board, and (for devices without a local AXI link) the regulators over PMBus with
// their validity flags and pending step requests.
void VARNTelemetrySampleBoard(int board);

// Main loop, every qualifying turn: the three rails of one device over its local AXI
// link (LR or ZK), validity flags, pending step requests.
void VARNTelemetrySampleLocalAXI(int board, int device);

// The console report, printed under logMutex.
void VARNTelemetryPrintReport();

// (V0*A0 + V1*A1 + [V2*A2 when rail 2 is valid] + 10) / 0.85 watts.
double VARNTelemetryPowerEstimate(double v0, double a0, double v1, double a1, double v2, double a2, bool rail2Valid);
