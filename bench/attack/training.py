"""The attackers' one training loop: Adam under a one-cycle schedule over random batches, with the
wall and processor time it took (processor time is the fair figure on a shared machine)."""
import time

import torch


def train(model, count, batch, epochs, loss_of):
    """Trains `model` on samples 0..count-1; loss_of(indices) gives a batch's mean loss."""
    started, cpu = time.time(), time.process_time()
    optimiser = torch.optim.Adam(model.parameters(), lr=2e-3)
    steps = epochs * ((count + batch - 1) // batch)
    schedule = torch.optim.lr_scheduler.OneCycleLR(optimiser, max_lr=3e-3, total_steps=steps)
    for epoch in range(epochs):
        model.train()
        order = torch.randperm(count)
        loss_sum = 0.0
        for i in range(0, count, batch):
            idx = order[i:i + batch]
            loss = loss_of(idx)
            optimiser.zero_grad()
            loss.backward()
            optimiser.step()
            schedule.step()
            loss_sum += loss.item() * len(idx)
        print(f"  epoch {epoch + 1}: loss {loss_sum / count:.4f} ({time.time() - started:.0f} s)", flush=True)
    print(f"training: {epochs} epochs in {time.time() - started:.0f} s ({time.process_time() - cpu:.0f} s of processor "
          f"time) on {torch.get_num_threads()} threads", flush=True)
