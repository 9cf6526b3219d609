#include "musicmaker/song.h"
