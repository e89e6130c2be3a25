#pragma once

// How many times its nominal length the stand-in pause lasts.
extern double pauseStretch;
