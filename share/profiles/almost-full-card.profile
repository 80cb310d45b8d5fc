# The default device with a storage card that has just under 3,000,000 bytes free: movies do not
# start, photos fill the card.
based-on = ph10c
name = almost-full-card
description = ph10c with an almost full storage card
free-space = 2999999
