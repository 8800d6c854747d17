#include "core/COrvaneSrvApp.h"

int main() {
    COrvaneSrvApp app({});
    return app.RunHeadless();
}
