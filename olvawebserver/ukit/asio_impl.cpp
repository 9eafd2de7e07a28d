// Boost.Asio's compiled parts, TLS included, once for the whole program:
// every file that uses Asio is built with BOOST_ASIO_SEPARATE_COMPILATION
// (CMakeLists.txt), so that none compiles them again.
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
