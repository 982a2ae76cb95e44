// asioloop: plays one full-scale impulse on outputs 0 and 1 of an audio
// device while recording every input, then reports where each input's peak
// arrived. The whole program lives in the library; this is its entry.
#include "run.h"

int main() {
    return runProgram();
}
