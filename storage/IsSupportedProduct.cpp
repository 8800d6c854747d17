// The fixed table of supported "SAN" products: vendor rows tried in order, each with the model
// code names it accepts and the product names that count when a server announces no model.
#include "storage/IsSupportedProduct.h"

#include <algorithm>
#include <span>
#include <string_view>

namespace {

enum class EProductMatch { Prefix, Whole };

constexpr std::string_view kSanType = "SAN";

constexpr std::string_view kTarvikVendors[] = {"Tarvik Networks"};
constexpr std::string_view kTarvikModels[] = {"Arvo",  "Belen", "Corra", "Dasso", "Evask",
                                              "Folan", "Garro", "Hesk",  "Ilvo",  "Jarn",
                                              "Kesso", "Lunn",  "Morv"};
// These names are followed by a variant of their own ("Z210-R2").
constexpr std::string_view kTarvikProducts[] = {"Z210", "Z220", "Z230",  "Z240", "Y210",
                                                "Y220", "Y240", "YE240", "W210"};

constexpr std::string_view kHalvardVendors[] = {"Halvard"};
constexpr std::string_view kHalvardModels[] = {"Arvo", "Evask", "Folan"};
constexpr std::string_view kHalvardProducts[] = {"VX2200I",       "VX2200I-M2",    "VX2216I-D2",
                                                 "VX2216I-D2-16", "VX2216I-D2-64", "VX2200F-D",
                                                 "VX2200F-D-M8",  "VX2200F-S",     "VX2216F-D2"};

constexpr std::string_view kKovaVendors[] = {"KOVA", "KO&VA"};
constexpr std::string_view kKovaModels[] = {"Evask", "Kesso", "Lunn"};
constexpr std::string_view kKovaProducts[] = {"BrindleSAS 518FD", "BrindleSAS 518FS",
                                              "BrindleSAS618HS", "BrindleSAS618HSD",
                                              "Brindle SAS618iF"};

struct CVendorRow {
    std::span<const std::string_view> listVendors;
    std::span<const std::string_view> listModels;
    std::span<const std::string_view> listProducts;
    EProductMatch productMatch;
};

constexpr CVendorRow kVendorRows[] = {
    {kTarvikVendors, kTarvikModels, kTarvikProducts, EProductMatch::Prefix},
    {kHalvardVendors, kHalvardModels, kHalvardProducts, EProductMatch::Whole},
    {kKovaVendors, kKovaModels, kKovaProducts, EProductMatch::Whole},
};

bool Contains(std::span<const std::string_view> list, std::string_view text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

bool ProductMatches(const CVendorRow& row, std::string_view product) {
    return std::any_of(
        row.listProducts.begin(), row.listProducts.end(), [&](std::string_view name) {
            return row.productMatch == EProductMatch::Prefix ? product.starts_with(name)
                                                             : product == name;
        });
}

} // namespace

bool IsSupportedProduct(const CServerData& record) {
    if (std::string_view(record.m_szType) != kSanType) {
        return true;
    }
    const std::string_view vendor = record.m_szVendor;
    const auto row =
        std::find_if(std::begin(kVendorRows), std::end(kVendorRows),
                     [&](const CVendorRow& r) { return Contains(r.listVendors, vendor); });
    if (row == std::end(kVendorRows)) {
        return false;
    }
    const std::string_view model = record.m_szModel;
    if (!model.empty()) {
        return Contains(row->listModels, model);
    }
    return ProductMatches(*row, record.m_szProduct);
}
