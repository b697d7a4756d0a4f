#ifndef MIP_H
#define MIP_H

#endif
