#include <gmock/gmock.h>

#include "Product.h"

// Every test process serves the product as the application does.
int main(int argc, char** argv) {
    Product::handToPlatform();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
