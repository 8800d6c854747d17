// The product classification over its whole table: every model and product of every vendor row,
// the first row's prefix rule against the others' whole match, and the near misses (case,
// spacing, another row's names, a type other than "SAN", an empty vendor); and the Login
// button's state that it decides.
#include "storage/IsSupportedProduct.h"

#include "storage/IsLoginEnabled.h"

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

const std::vector<std::string> kAllModels = {"Arvo",  "Belen", "Corra", "Dasso", "Evask",
                                             "Folan", "Garro", "Hesk",  "Ilvo",  "Jarn",
                                             "Kesso", "Lunn",  "Morv"};

struct CRow {
    std::vector<std::string> vendors;
    std::vector<std::string> models;
    std::vector<std::string> products;
};

const CRow kTarvik{{"Tarvik Networks"},
                   kAllModels,
                   {"Z210", "Z220", "Z230", "Z240", "Y210", "Y220", "Y240", "YE240", "W210"}};
const CRow kHalvard{{"Halvard"},
                    {"Arvo", "Evask", "Folan"},
                    {"VX2200I", "VX2200I-M2", "VX2216I-D2", "VX2216I-D2-16", "VX2216I-D2-64",
                     "VX2200F-D", "VX2200F-D-M8", "VX2200F-S", "VX2216F-D2"}};
const CRow kKova{{"KOVA", "KO&VA"},
                 {"Evask", "Kesso", "Lunn"},
                 {"BrindleSAS 518FD", "BrindleSAS 518FS", "BrindleSAS618HS", "BrindleSAS618HSD",
                  "Brindle SAS618iF"}};

bool IsIn(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

TEST(IsSupportedProduct, EveryModelOfTheTableDecidesAloneForItsVendors) {
    for (const CRow* row : {&kTarvik, &kHalvard, &kKova}) {
        for (const std::string& vendor : row->vendors) {
            for (const std::string& model : kAllModels) {
                // The product does not matter once a model is announced.
                EXPECT_EQ(San(vendor, model, "nothing"), IsIn(row->models, model))
                    << vendor << " / " << model;
                EXPECT_EQ(San(vendor, model, row->products.front()), IsIn(row->models, model))
                    << vendor << " / " << model;
            }
            EXPECT_FALSE(San(vendor, "arvo", "")) << "models match case-sensitively";
            EXPECT_FALSE(San(vendor, "Evask ", "")) << "and whole";
        }
    }
}

TEST(IsSupportedProduct, WithoutAModelTheProductDecides) {
    for (const CRow* row : {&kTarvik, &kHalvard, &kKova}) {
        for (const std::string& vendor : row->vendors) {
            for (const std::string& product : row->products) {
                EXPECT_TRUE(San(vendor, "", product)) << vendor << " / " << product;
                const std::string shorter = product.substr(0, product.size() - 1);
                EXPECT_EQ(San(vendor, "", shorter), IsIn(row->products, shorter))
                    << vendor << " / " << shorter;
            }
        }
    }
    // The first row matches by prefix: the product may continue.
    for (const char* product : {"Z210-R2", "Z240-E", "Y220x", "YE240-X", "W210 rack"}) {
        EXPECT_TRUE(San("Tarvik Networks", "", product)) << product;
    }
    EXPECT_FALSE(San("Tarvik Networks", "", "YE24"));
    EXPECT_FALSE(San("Tarvik Networks", "", "z210"));
    EXPECT_FALSE(San("Tarvik Networks", "", "XZ210"));
    EXPECT_FALSE(San("Tarvik Networks", "", ""));
    // The others match whole.
    EXPECT_FALSE(San("Halvard", "", "VX2200I-M2x"));
    EXPECT_FALSE(San("Halvard", "", "VX2200IX"));
    EXPECT_FALSE(San("KOVA", "", "BrindleSAS618HSDX"));
    EXPECT_FALSE(San("KO&VA", "", "brindlesas618hs"));
    // A row's products do not count for another vendor.
    EXPECT_FALSE(San("Halvard", "", "Z210"));
    EXPECT_FALSE(San("KOVA", "", "VX2200I"));
    EXPECT_FALSE(San("Tarvik Networks", "", "VX2200I"));
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

TEST(IsLoginEnabled, TheFirstSelectedRowWithARecordDecides) {
    CServerTable table;
    CTableGuard guard;
    auto supported = std::make_unique<CServerData>(Server("NAS", "", "", ""));
    auto unsupported = std::make_unique<CServerData>(Server("SAN", "Nobody", "", ""));
    table.Add(u"yes", std::move(supported));
    table.Add(u"no", std::move(unsupported));
    using Macs = std::vector<std::u16string>;
    EXPECT_FALSE(IsLoginEnabled(table, guard, Macs{}));
    EXPECT_FALSE(IsLoginEnabled(table, guard, Macs{u"swept", u"gone"}));
    EXPECT_TRUE(IsLoginEnabled(table, guard, Macs{u"swept", u"yes", u"no"}));
    EXPECT_FALSE(IsLoginEnabled(table, guard, Macs{u"no", u"yes"}));
    EXPECT_FALSE(IsLoginEnabled(table, guard, Macs{u"YES"})) << "keys are exact";
    guard.m_bTablesAlive = false;
    EXPECT_FALSE(IsLoginEnabled(table, guard, Macs{u"yes"}));
}

} // namespace
