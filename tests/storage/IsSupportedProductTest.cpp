// The product classification over its whole table: every model and product of every vendor row,
// the first row's prefix rule against the others' whole match, and the near misses (case,
// spacing, another row's names, a type other than "SAN", an empty vendor).
#include "storage/IsSupportedProduct.h"


#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

CServerData Server(const std::string& type, const std::string& vendor, const std::string& model,
                   const std::string& product) {
    CServerData record;
    record.SetType(type);
    record.SetVendor(vendor);
    record.SetModel(model);
    record.SetProduct(product);
    return record;
}

bool San(const std::string& vendor, const std::string& model, const std::string& product) {
    return IsSupportedProduct(Server("SAN", vendor, model, product));
}

// Each vendor of the table with the names that are supported for it and near misses that are
// not, written out: models decide alone once announced, products only without a model.
struct CVendorCases {
    std::vector<std::string> vendors;
    std::vector<std::string> supported;
    std::vector<std::string> refused;
};

const CVendorCases kModels[] = {
    {{"Tarvik Networks"},
     {"Arvo", "Belen", "Corra", "Dasso", "Evask", "Folan", "Garro", "Hesk", "Ilvo", "Jarn", "Kesso",
      "Lunn", "Morv"},
     {"arvo", "Evask ", "Nobody"}},
    {{"Halvard"},
     {"Arvo", "Evask", "Folan"},
     {"Belen", "Corra", "Dasso", "Garro", "Hesk", "Ilvo", "Jarn", "Kesso", "Lunn", "Morv", "arvo",
      "Evask "}},
    {{"KOVA", "KO&VA"},
     {"Evask", "Kesso", "Lunn"},
     {"Arvo", "Belen", "Corra", "Dasso", "Folan", "Garro", "Hesk", "Ilvo", "Jarn", "Morv", "kesso",
      "Lunn "}},
};

const CVendorCases kProducts[] = {
    // The first row matches by prefix: the product may continue.
    {{"Tarvik Networks"},
     {"Z210", "Z220", "Z230", "Z240", "Y210", "Y220", "Y240", "YE240", "W210", "Z210-R2", "Z240-E",
      "Y220x", "YE240-X", "W210 rack"},
     {"Z21", "Z22", "Z23", "Z24", "Y21", "Y22", "Y24", "YE24", "W21", "z210", "XZ210", "",
      "VX2200I"}},
    // The others match whole.
    {{"Halvard"},
     {"VX2200I", "VX2200I-M2", "VX2216I-D2", "VX2216I-D2-16", "VX2216I-D2-64", "VX2200F-D",
      "VX2200F-D-M8", "VX2200F-S", "VX2216F-D2"},
     {"VX2200", "VX2200I-M", "VX2216I-D", "VX2216I-D2-1", "VX2216I-D2-6", "VX2200F-", "VX2200F-D-M",
      "VX2216F-D", "VX2200I-M2x", "VX2200IX", "Z210", ""}},
    {{"KOVA", "KO&VA"},
     {"BrindleSAS 518FD", "BrindleSAS 518FS", "BrindleSAS618HS", "BrindleSAS618HSD",
      "Brindle SAS618iF"},
     {"BrindleSAS 518F", "BrindleSAS618H", "Brindle SAS618i", "BrindleSAS618HSDX",
      "brindlesas618hs", "VX2200I", "Z210", ""}},
};

TEST(IsSupportedProduct, AnAnnouncedModelDecidesAloneForItsVendor) {
    for (const CVendorCases& row : kModels) {
        for (const std::string& vendor : row.vendors) {
            for (const std::string& model : row.supported) {
                // Whatever the product says.
                EXPECT_TRUE(San(vendor, model, "nothing")) << vendor << " / " << model;
            }
            for (const std::string& model : row.refused) {
                EXPECT_FALSE(San(vendor, model, "Z210")) << vendor << " / " << model;
                EXPECT_FALSE(San(vendor, model, "VX2200I")) << vendor << " / " << model;
                EXPECT_FALSE(San(vendor, model, "BrindleSAS 518FD")) << vendor << " / " << model;
            }
        }
    }
}

TEST(IsSupportedProduct, WithoutAModelTheProductDecides) {
    for (const CVendorCases& row : kProducts) {
        for (const std::string& vendor : row.vendors) {
            for (const std::string& product : row.supported) {
                EXPECT_TRUE(San(vendor, "", product)) << vendor << " / " << product;
            }
            for (const std::string& product : row.refused) {
                EXPECT_FALSE(San(vendor, "", product)) << vendor << " / " << product;
            }
        }
    }
}

TEST(IsSupportedProduct, VendorsMatchExactlyAndOtherTypesAreAlwaysSupported) {
    for (const char* vendor :
         {"tarvik networks", "Tarvik  Networks", "TarvikNetworks", " Tarvik Networks",
          "Tarvik Networks ", "Kova", "KO & VA", "", "Halvard Inc."}) {
        EXPECT_FALSE(San(vendor, "Evask", "")) << '"' << vendor << '"';
    }
    // Any type but exactly "SAN" is supported whatever its vendor and model.
    for (const char* type : {"NAS", "san", "SAN ", "", "Unified"}) {
        EXPECT_TRUE(IsSupportedProduct(Server(type, "", "", ""))) << '"' << type << '"';
        EXPECT_TRUE(IsSupportedProduct(Server(type, "Nobody", "Belen", "Q1"))) << type;
    }
    // The vendor field keeps 32 bytes, more than every vendor of the table; a longer vendor
    // that begins like one is cut but still not equal.
    EXPECT_TRUE(San(std::string("Tarvik Networks"), "Evask", ""));
    EXPECT_FALSE(San(std::string("Tarvik Networks") + std::string(30, 'x'), "Evask", ""));
    CServerData record = Server("SAN", std::string(40, 'v'), "", "");
    EXPECT_EQ(std::string(record.m_szVendor), std::string(32, 'v'));
}

} // namespace
