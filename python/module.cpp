// The fwbforge2 Python module: libfwbforge2's calls in Python's conventions.
// Arguments are converted while the GIL is held; the work runs without it.

#include "fwbforge2/fwbforge2.h"

#include <cstdint>
#include <optional>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <string>
#include <string_view>
#include <vector>

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

py::handle error_type; // fwbforge2.Error, owned by the module

// Names and lines may hold any bytes: those that are no UTF-8 come back as
// surrogates, as os.fsdecode gives them.
py::str text(std::string_view bytes) {
    PyObject* decoded = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                             "surrogateescape");
    if (decoded == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(decoded);
}

py::bytes bytes_of(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

[[noreturn]] void raise(const fwbforge2::Error& error) {
    py::list messages;
    std::string joined;
    for (const std::string& line : error.messages) {
        messages.append(text(line));
        joined += (joined.empty() ? "" : "\n") + line;
    }
    py::object instance = py::reinterpret_borrow<py::object>(error_type)(text(joined));
    instance.attr("status") = error.status;
    instance.attr("messages") = messages;
    PyErr_SetObject(error_type.ptr(), instance.ptr());
    throw py::error_already_set();
}

template <typename T> T value_of(fwbforge2::Result<T>&& result) {
    if (!result) {
        raise(result.error());
    }
    return std::move(*result);
}

// A path as str, bytes or os.PathLike; a NUL would cut it short, so it is refused as open() does.
std::string path_of(const py::object& given) {
    const py::object path = py::module_::import("os").attr("fsencode")(given);
    std::string bytes = path.cast<std::string>();
    if (bytes.find('\0') != std::string::npos) {
        throw py::value_error("embedded null byte in path");
    }
    return bytes;
}

std::uint16_t identifier(const py::int_& value, const char* name) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0 || number < 0 || number > 0xffff) {
        throw py::value_error(std::string(name) +
                              " does not fit 16 bits: " + py::repr(value).cast<std::string>());
    }
    return static_cast<std::uint16_t>(number);
}

// Runs call without the GIL and gives back its value, or raises its failure.
template <typename Call> auto released(Call call) {
    std::optional<decltype(call())> result;
    {
        py::gil_scoped_release release;
        result.emplace(call());
    }
    return value_of(std::move(*result));
}

std::string hex_of(const fwbforge2::Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xf];
    }
    return hex;
}

void bind_device(py::module_& m) {
    py::class_<fwbforge2::DeviceId>(m, "DeviceId")
        .def(py::init([](const py::int_& vid, const py::int_& did, const py::int_& svid,
                         const py::int_& ssid) {
                 return fwbforge2::DeviceId{identifier(vid, "VID"), identifier(did, "DID"),
                                            identifier(svid, "SVID"), identifier(ssid, "SSID")};
             }),
             "vid"_a, "did"_a, "svid"_a, "ssid"_a)
        .def_static(
            "parse",
            [](const std::string& vid, const std::string& did, const std::string& svid,
               const std::string& ssid) {
                return value_of(fwbforge2::parse_device_id(vid, did, svid, ssid));
            },
            "vid"_a, "did"_a, "svid"_a, "ssid"_a)
        .def_readonly("vid", &fwbforge2::DeviceId::vid)
        .def_readonly("did", &fwbforge2::DeviceId::did)
        .def_readonly("svid", &fwbforge2::DeviceId::svid)
        .def_readonly("ssid", &fwbforge2::DeviceId::ssid)
        .def("__eq__",
             [](const fwbforge2::DeviceId& a, const fwbforge2::DeviceId& b) {
                 return a.vid == b.vid && a.did == b.did && a.svid == b.svid && a.ssid == b.ssid;
             })
        .def("__hash__",
             [](const fwbforge2::DeviceId& d) {
                 return py::hash(py::make_tuple(d.vid, d.did, d.svid, d.ssid));
             })
        .def("__repr__", [](const fwbforge2::DeviceId& d) {
            return py::str("DeviceId(vid=0x{:04x}, did=0x{:04x}, svid=0x{:04x}, ssid=0x{:04x})")
                .format(d.vid, d.did, d.svid, d.ssid);
        });
}

void bind_update_data_types(py::module_& m) {
    using namespace fwbforge2;
    py::class_<Written>(m, "Written")
        .def_readonly("length", &Written::length)
        .def_property_readonly("sha256",
                               [](const Written& w) { return bytes_of(w.sha256.data(), 32); })
        .def_property_readonly("sha256_hex", [](const Written& w) { return hex_of(w.sha256); });
    py::class_<Entry>(m, "Entry")
        .def_property_readonly("mac",
                               [](const Entry& e) { return bytes_of(e.mac.data(), e.mac.size()); })
        .def_property_readonly("phy",
                               [](const Entry& e) { return bytes_of(e.phy.data(), e.phy.size()); })
        .def_readonly("exprom", &Entry::exprom)
        .def_property_readonly("image_name", [](const Entry& e) { return text(e.image_name); })
        .def_readonly("key_line", &Entry::key_line);
    py::class_<ListedEntry>(m, "ListedEntry")
        .def_readonly("device", &ListedEntry::device)
        .def_readonly("key_line", &ListedEntry::key_line)
        .def_readonly("image_line", &ListedEntry::image_line)
        .def_readonly("mac_length", &ListedEntry::mac_length)
        .def_readonly("phy_length", &ListedEntry::phy_length)
        .def_readonly("exprom", &ListedEntry::exprom)
        .def_property_readonly("image_name",
                               [](const ListedEntry& e) { return text(e.image_name); });
    py::class_<Finding>(m, "Finding")
        .def_readonly("line", &Finding::line)
        .def_property_readonly("message", [](const Finding& f) { return text(f.message); });
    py::class_<UpdateDataCheck>(m, "UpdateDataCheck")
        .def_readonly("devices", &UpdateDataCheck::devices)
        .def_readonly("line_too_long", &UpdateDataCheck::line_too_long)
        .def_readonly("findings", &UpdateDataCheck::findings)
        .def_property_readonly("clean", &UpdateDataCheck::clean);
}

void bind_image_types(py::module_& m) {
    using namespace fwbforge2;
    py::class_<DigestCheck>(m, "DigestCheck")
        .def_readonly("name", &DigestCheck::name)
        // None where the digest or its range lies past the file's end.
        .def_property_readonly("stored",
                               [](const DigestCheck& d) {
                                   return d.in_file ? py::object(bytes_of(d.stored.data(), 32))
                                                    : py::object(py::none());
                               })
        .def_property_readonly("computed",
                               [](const DigestCheck& d) {
                                   return d.in_file ? py::object(bytes_of(d.computed.data(), 32))
                                                    : py::object(py::none());
                               })
        .def_readonly("in_file", &DigestCheck::in_file)
        .def_readonly("holds", &DigestCheck::holds);
    py::class_<TableEntry>(m, "TableEntry")
        .def_readonly("index", &TableEntry::index)
        .def_readonly("type", &TableEntry::type)
        .def_readonly("type_name", &TableEntry::type_name)
        .def_readonly("length", &TableEntry::length)
        .def_readonly("offset", &TableEntry::offset)
        .def_readonly("in_region", &TableEntry::in_region)
        .def_readonly("digest", &TableEntry::digest);
    py::class_<Inspection>(m, "Inspection")
        .def_readonly("length", &Inspection::length)
        .def_readonly("header_complete", &Inspection::header_complete)
        .def_readonly("bdp_offset", &Inspection::bdp_offset)
        .def_readonly("bdp_size", &Inspection::bdp_size)
        .def_readonly("region_valid", &Inspection::region_valid)
        .def_readonly("exprom_cleared", &Inspection::exprom_cleared)
        .def_readonly("digests", &Inspection::digests)
        .def_readonly("entries", &Inspection::entries)
        .def_readonly("verified", &Inspection::verified);
    py::class_<Difference>(m, "Difference")
        .def_readonly("part", &Difference::part)
        .def_readonly("offset", &Difference::offset)
        .def("__repr__", [](const Difference& d) {
            return py::str("Difference({!r}, {})").format(d.part, d.offset);
        });
    py::class_<Expectation>(m, "Expectation")
        .def_readonly("as_expected", &Expectation::as_expected)
        .def_readonly("refusal", &Expectation::refusal)
        .def_readonly("length", &Expectation::length)
        .def_property_readonly("base", [](const Expectation& e) { return text(e.base); })
        .def_readonly("differences", &Expectation::differences);
    py::class_<Comparison>(m, "Comparison")
        .def_readonly("identical", &Comparison::identical)
        .def_readonly("length_a", &Comparison::length_a)
        .def_readonly("length_b", &Comparison::length_b)
        .def_readonly("differences", &Comparison::differences);
}

py::object provision(const fwbforge2::DeviceId& device, const py::object& updateData,
                     const py::object& output) {
    const std::string data = path_of(updateData);
    if (!output.is_none()) {
        const std::string target = path_of(output);
        return py::cast(released([&] { return fwbforge2::provision_to(device, data, target); }));
    }
    // Laid straight into the bytes object: a large image is held once.
    py::object image;
    released([&] {
        return fwbforge2::provision(device, data, [&](std::uint64_t length) -> std::uint8_t* {
            py::gil_scoped_acquire acquire;
            PyObject* made = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length));
            if (made == nullptr) {
                PyErr_Clear();
                return nullptr;
            }
            image = py::reinterpret_steal<py::object>(made);
            return reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(made));
        });
    });
    return image;
}

void bind_calls(py::module_& m) {
    using fwbforge2::DeviceId;
    m.def("provision", &provision, "device"_a, "update_data"_a, py::kw_only(),
          "output"_a = py::none());
    m.def(
        "find_entry",
        [](const py::object& updateData, const DeviceId& device) {
            const std::string data = path_of(updateData);
            return released([&] { return fwbforge2::find_entry(data, device); });
        },
        "update_data"_a, "device"_a);
    m.def(
        "entries",
        [](const py::object& updateData) {
            const std::string data = path_of(updateData);
            return released([&] { return fwbforge2::entries(data); });
        },
        "update_data"_a);
    m.def(
        "check_update_data",
        [](const py::object& updateData) {
            const std::string data = path_of(updateData);
            return released([&] { return fwbforge2::check_update_data(data); });
        },
        "update_data"_a);
    m.def(
        "inspect",
        [](const py::object& image) {
            const std::string path = path_of(image);
            return released([&] { return fwbforge2::inspect(path); });
        },
        "image"_a);
    m.def(
        "expect",
        [](const py::object& image, const DeviceId& device, const py::object& updateData,
           const py::object& base) {
            const std::string path = path_of(image);
            const std::string data = path_of(updateData);
            const std::optional<std::string> basePath =
                base.is_none() ? std::nullopt : std::optional<std::string>(path_of(base));
            return released([&] {
                return fwbforge2::expect(path, device, data,
                                         basePath ? std::optional<std::string_view>(*basePath)
                                                  : std::nullopt);
            });
        },
        "image"_a, "device"_a, "update_data"_a, py::kw_only(), "base"_a = py::none());
    m.def(
        "diff",
        [](const py::object& a, const py::object& b) {
            const std::string pathA = path_of(a);
            const std::string pathB = path_of(b);
            return released([&] { return fwbforge2::diff(pathA, pathB); });
        },
        "a"_a, "b"_a);
    m.def("version", [] { return std::string(fwbforge2::version()); });
}

} // namespace

PYBIND11_MODULE(fwbforge2, m) {
    m.doc() = "fwbforge2's and fwbinspect's work as calls";
    error_type = PyErr_NewException("fwbforge2.Error", PyExc_Exception, nullptr);
    if (error_type.ptr() == nullptr) {
        throw py::error_already_set();
    }
    m.add_object("Error", error_type);
    bind_device(m);
    bind_update_data_types(m);
    bind_image_types(m);
    bind_calls(m);
    m.attr("__version__") = std::string(fwbforge2::version());
}
