// Boost.Beast's compiled parts once for the whole program, as for Asio
// (BOOST_BEAST_SEPARATE_COMPILATION).
#include <boost/beast/src.hpp>
