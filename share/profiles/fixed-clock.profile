# The default device with its clock fixed, so photos and movies get the same names every run.
based-on = ph10c
name = fixed-clock
description = ph10c with a fixed clock
clock = 2026-01-02 03:04:05
