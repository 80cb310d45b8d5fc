# A Pocket PC with a 480x640 display and no microphone, made from the default device.
# Run with: lumovatrix --profile vga-no-sound.profile
based-on = ph10c
name = vga-no-sound
description = ph10c with a VGA display and no wave input
display = 480x640
wave-input = no
