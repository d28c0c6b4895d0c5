/* Plugging a simulated detector in from C: sim/simulator.h is a C++ interface, reached here
 * through libzv.so's exported symbols as a C++ program would. */
#ifndef ZV_TESTS_C_SIMULATED_DETECTOR_H
#define ZV_TESTS_C_SIMULATED_DETECTOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Attaches a simulated detector with the default identity (serial "HLM25-S00001IC", 80 MS/s,
 * 14 bits, firmware 1.0.2, an InGaAs photodiode); returns 0, or -1 when it cannot. */
int attach_simulated_detector(void);
void detach_simulated_detectors(void);

#ifdef __cplusplus
}
#endif

#endif
