// The byte-conversion kernels of lumora.image, compiled into this module
// too (modules share no code at link time): the JPEG writer hands SDL_image
// pixels already in its byte order.
#include "../image/pixconv.cpp"
