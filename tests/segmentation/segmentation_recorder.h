#pragma once

#include <ostream>

class WorkerPool;

// Runs the whole segmentation step (block likelihoods, forward recursion,
// draw of the number of partitions, draws of the boundaries, posterior
// terms) on a fixed set of cases and writes every value it produces: each
// double in hexadecimal floating point, so that two runs agree byte for byte
// exactly when every value agrees bit for bit. Small cases list every block
// likelihood, log marginal and backward weight; larger ones list 64-bit
// digests of the bit patterns of the same values, in groups of end columns.
// The position of the random stream after the draws is written too, so a
// change in the number of rand() draws shows.
//
// `pool`, when given, is handed to every sampler (use_worker_pool), so the
// same listing can be recorded with any number of threads.
//
// Changes the srand seed.
void record_segmentation_outputs(std::ostream& out, WorkerPool* pool = nullptr);
