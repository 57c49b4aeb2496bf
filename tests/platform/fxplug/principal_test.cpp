#include "platform/fxplug/fx_principal.h"

#include <gtest/gtest.h>

namespace {

class BarePlugIn final : public FxTileableEffect, public FxAnalyzer {};

std::shared_ptr<FxPlugIn> makeBare(std::shared_ptr<PROAPIAccessing>) { return std::make_shared<BarePlugIn>(); }

class NoServices final : public PROAPIAccessing {
public:
    std::shared_ptr<FxHostAPI> apiForProtocol(FxProtocol) override { return std::make_shared<FxHostAPI>(); }
};

TEST(FxPrincipalTest, ClassesAreFoundByTheirPlainName) {
    EXPECT_TRUE(FxPrincipal::registerPlugInClass("PrincipalTestBare", makeBare));
    EXPECT_FALSE(FxPrincipal::registerPlugInClass("PrincipalTestBare", makeBare));
    EXPECT_TRUE(FxPrincipal::isPlugInClassRegistered("PrincipalTestBare"));
    EXPECT_TRUE(FxPrincipal::createPlugIn("PrincipalTestBare", nullptr));
    EXPECT_FALSE(FxPrincipal::createPlugIn("NoSuchPlugIn", nullptr));

    FxPrincipal::registerPlugInClass("PrincipalTestDeclining", [](auto) { return nullptr; });
    EXPECT_FALSE(FxPrincipal::createPlugIn("PrincipalTestDeclining", nullptr));
}

TEST(FxPrincipalTest, ServiceReturnsAtOnceWithoutAHostAndKeepsTheClasses) {
    FxPrincipal::registerPlugInClass("PrincipalTestServed", makeBare);
    FxPrincipal::startServicePrincipal();
    EXPECT_TRUE(FxPrincipal::createPlugIn("PrincipalTestServed", nullptr));
}

TEST(FxPlugInTest, EntriesNotImplementedAnswerNoWithAnErrorNamingThem) {
    BarePlugIn plugIn;
    NSError error;
    EXPECT_FALSE(plugIn.addParametersWithError(&error));
    EXPECT_EQ(error.localizedDescription, "addParametersWithError: is not implemented by the plug-in");
    EXPECT_FALSE(plugIn.analyzeFrame(nullptr, kCMTimeZero, nullptr));
    EXPECT_FALSE(plugIn.performSelector("startAnalysis"));
    EXPECT_EQ(plugIn.classForCustomParameterID(4), FxClass::NSNull);
}

TEST(FxHostAPITest, AnObjectOfAnotherKindIsNoService) {
    NoServices manager;
    EXPECT_FALSE(fxAPI<FxParameterCreationAPI_v5>(manager));
    EXPECT_FALSE(fxAPI<FxTimingAPI_v4>(manager));
}

}  // namespace
