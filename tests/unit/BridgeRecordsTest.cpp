#include <gtest/gtest.h>

#include "Handlers/BridgeRecords.h"

TEST(BridgeRecords, JoinMessageAcceptsOnlyIntegerKeysAndOptionalTextDataCentre) {
    auto join = joinSessionMessage::decode(R"({"sessionKey":123456789,"email":"a@b","extra":[1]})");
    ASSERT_TRUE(join);
    EXPECT_EQ(join->sessionKey, 123456789);
    EXPECT_FALSE(join->dc);
    EXPECT_FALSE(joinSessionMessage::decode(R"({"sessionKey":1,"email":"a","dc":null})")->dc);
    EXPECT_EQ(joinSessionMessage::decode(R"({"sessionKey":-5,"email":"","dc":"eu"})")->dc, "eu");
    EXPECT_EQ(
        joinSessionMessage::decode(R"({"sessionKey":9223372036854775807,"email":""})")->sessionKey,
        INT64_MAX);
    // A whole number written as a real is a whole number.
    EXPECT_EQ(joinSessionMessage::decode(R"({"sessionKey":1.0,"email":"a"})")->sessionKey, 1);
    EXPECT_EQ(joinSessionMessage::decode(R"({"sessionKey":1e9,"email":"a"})")->sessionKey,
              1000000000);
    EXPECT_EQ(joinSessionMessage::decode(R"({"sessionKey":-2.0E2,"email":"a"})")->sessionKey, -200);

    for (const char* rejected :
         {R"({"sessionKey":"123456789","email":"a"})",          // digits as a string
          R"({"sessionKey":123456789.5,"email":"a"})",          // a fraction
          R"({"sessionKey":1e19,"email":"a"})",                 // a real beyond 64 bits
          R"({"sessionKey":9223372036854775808,"email":"a"})",  // beyond 64 bits
          R"({"sessionKey":1,"email":"a","dc":5})",             // dc of another type
          R"({"sessionKey":1})",                                // email missing
          R"({"SessionKey":1,"email":"a"})",                    // key case differs
          R"({"sessionKey":null,"email":"a"})", R"([{"sessionKey":1,"email":"a"}])", "12",
          "not json", ""}) {
        EXPECT_FALSE(joinSessionMessage::decode(rejected)) << rejected;
    }
}

TEST(BridgeRecords, CustomerAndProxyRecordsNeedEveryFieldOfItsOwnType) {
    auto customer =
        customerDetails::decode(R"({"name":"n","company":"c","email":"e","language":"de","x":1})");
    ASSERT_TRUE(customer);
    EXPECT_EQ(customer->language, "de");
    EXPECT_FALSE(customerDetails::decode(R"({"name":"n","email":"e","language":"de"})"));
    EXPECT_FALSE(
        customerDetails::decode(R"({"name":"n","company":null,"email":"e","language":"de"})"));

    auto proxy = proxyDetails::decode(
        R"({"host":"p","port":-1,"authRequired":false,"userName":"","password":""})");
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->port, -1);
    EXPECT_FALSE(proxyDetails::decode(
        R"({"host":"p","port":8080,"authRequired":1,"userName":"","password":""})"));
    EXPECT_FALSE(proxyDetails::decode(R"({"host":"p","port":8080,"authRequired":false})"));
    EXPECT_FALSE(proxyDetails::decode(
        R"({"host":"p","port":"8080","authRequired":true,"userName":"","password":""})"));
}

TEST(BridgeRecords, HostileTextIsRejectedWithoutHarm) {
    std::string deep(200000, '[');
    EXPECT_FALSE(joinSessionMessage::decode(deep));
    std::string deepObject = R"({"sessionKey":1,"email":"a","x":)" + std::string(100000, '[') +
                             std::string(100000, ']') + "}";
    EXPECT_FALSE(joinSessionMessage::decode(deepObject));
    EXPECT_FALSE(customerDetails::decode(
        "{\"name\":\"\xff\xfe\",\"company\":\"\",\"email\":\"\",\"language\":\"\"}"));
    std::string huge = R"({"name":")" + std::string(10 * 1024 * 1024, 'a') +
                       R"(","company":"","email":"","language":""})";
    auto big = customerDetails::decode(huge);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->name.size(), 10u * 1024 * 1024);
}
